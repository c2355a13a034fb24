#include "vyrConnections.h"
#include "vyrErrors.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>

using namespace vyr;

namespace {

// A connection whose open/closed state the test decides; closedBudget counts down the IsClosed calls
// that still answer "closed" (negative: no limit).
class StubConnection : public TvyrCustomConnection {
public:
    bool IsClosed() const override {
        if (!closed)
            return false;
        if (closedBudget < 0)
            return true;
        return closedBudget-- > 0;
    }
    win::BYTE GetRequiredTransport() const override { return TRANSPORT_SERIAL; }
    bool IsConnected() const override { return !closed; }

    bool closed = true;
    mutable int closedBudget = -1;
};

template <typename E> std::u16string MessageOf(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const E& e) {
        return e.Message();
    } catch (...) {
        return u"<other exception>";
    }
    return u"<no exception>";
}

const win::GUID kObexPush = {0x00001105, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};

} // namespace

TEST(ConnectionParams, DefaultsAndOwnerRequired) {
    StubConnection c;
    TvyrBuffers b(&c);
    EXPECT_EQ(b.ReadBuffer(), 4096u);
    EXPECT_EQ(b.WriteBuffer(), 4096u);
    EXPECT_EQ(c.Buffers()->ReadBuffer(), 4096u);
    TvyrClientBluetoothParams bt(&c);
    EXPECT_TRUE(bt.Authentication());
    EXPECT_FALSE(bt.Encryption());
    EXPECT_EQ(bt.Channel(), 0);
    EXPECT_EQ(bt.Radio(), nullptr);
    EXPECT_TRUE(bt.Service() == BluetoothBaseUuid);
    EXPECT_EQ(bt.Address(), u"(00:00:00:00:00:00)");
    EXPECT_EQ(bt.Connection(), &c);
    TvyrClientIrDAParams ir(&c);
    EXPECT_TRUE(ir.NineWire());
    EXPECT_EQ(ir.Service(), u"IrDA:IrCOMM");
    EXPECT_EQ(ir.Address(), u"(00:00:00:00)");
    TvyrClientSerialParams se(&c);
    EXPECT_EQ(se.BaudRate(), br115200);
    EXPECT_EQ(se.BaudRateValue(), 115200u);
    EXPECT_EQ(se.ByteSize(), bs8);
    EXPECT_EQ(se.Parity(), paNone);
    EXPECT_EQ(se.Port(), 1u);
    EXPECT_EQ(se.StopBits(), sb1);

    auto required = u"Connection is required.";
    EXPECT_EQ(MessageOf<vyrEInvalidArgument>([] { TvyrBuffers x(nullptr); }), required);
    EXPECT_EQ(MessageOf<vyrEInvalidArgument>([] { TvyrClientBluetoothParams x(nullptr); }), required);
    EXPECT_EQ(MessageOf<vyrEInvalidArgument>([] { TvyrClientIrDAParams x(nullptr); }), required);
    EXPECT_EQ(MessageOf<vyrEInvalidArgument>([] { TvyrClientSerialParams x(nullptr); }), required);
}

TEST(ConnectionParams, OpenConnectionAcceptsEqualValuesAndRefusesChanges) {
    StubConnection c;
    TvyrClientBluetoothParams bt(&c);
    TvyrClientIrDAParams ir(&c);
    TvyrClientSerialParams se(&c);
    c.closed = false;

    // The same values pass silently, even ones that would fail their check otherwise.
    EXPECT_NO_THROW({
        c.Buffers()->SetReadBuffer(4096);
        c.Buffers()->SetWriteBuffer(4096);
        bt.SetAuthentication(true);
        bt.SetEncryption(false);
        bt.SetChannel(0);
        bt.SetService(BluetoothBaseUuid);
        bt.SetRadio(nullptr);
        bt.SetAddress(u"(00:00:00:00:00:00)");
        ir.SetNineWire(true);
        ir.SetService(u"IrDA:IrCOMM");
        ir.SetAddress(u"(00:00:00:00)");
        se.SetBaudRate(br115200);
        se.SetBaudRateValue(115200);
        se.SetByteSize(bs8);
        se.SetParity(paNone);
        se.SetPort(1);
        se.SetStopBits(sb1);
    });

    const std::u16string active = u"Connection is active.";
    std::vector<std::function<void()>> changes = {
        [&] { c.Buffers()->SetReadBuffer(10); },
        [&] { c.Buffers()->SetWriteBuffer(0); },
        [&] { bt.SetAuthentication(false); },
        [&] { bt.SetEncryption(true); },
        [&] { bt.SetChannel(3); },
        [&] { bt.SetService(kObexPush); },
        [&] { bt.SetAddress(u"bad"); },
        [&] { ir.SetNineWire(false); },
        [&] { ir.SetService(u""); },
        [&] { ir.SetAddress(u"(01:02:03:04)"); },
        [&] { se.SetBaudRate(br9600); },
        [&] { se.SetBaudRateValue(0); },
        [&] { se.SetByteSize(bs7); },
        [&] { se.SetParity(paEven); },
        [&] { se.SetPort(0); },
        [&] { se.SetStopBits(sb2); },
    };
    for (size_t i = 0; i < changes.size(); ++i)
        EXPECT_EQ(MessageOf<vyrEConnectionActive>(changes[i]), active) << "change " << i;
    TvyrBluetoothRadio radio(baMicrosoft);
    EXPECT_EQ(MessageOf<vyrEConnectionActive>([&] { bt.SetRadio(&radio); }), active);

    // Nothing moved.
    EXPECT_EQ(c.Buffers()->ReadBuffer(), 4096u);
    EXPECT_TRUE(bt.Authentication());
    EXPECT_FALSE(bt.Encryption());
    EXPECT_EQ(bt.Channel(), 0);
    EXPECT_TRUE(bt.Service() == BluetoothBaseUuid);
    EXPECT_EQ(bt.Radio(), nullptr);
    EXPECT_EQ(ir.Service(), u"IrDA:IrCOMM");
    EXPECT_EQ(se.BaudRate(), br115200);
    EXPECT_EQ(se.BaudRateValue(), 115200u);
    EXPECT_EQ(se.Port(), 1u);
    EXPECT_EQ(se.StopBits(), sb1);
}

TEST(ConnectionParams, ValueChecksAndTheirExactTexts) {
    StubConnection c;
    TvyrClientBluetoothParams bt(&c);
    TvyrClientIrDAParams ir(&c);
    TvyrClientSerialParams se(&c);

    EXPECT_EQ(MessageOf<vyrEInvalidArgument>([&] { c.Buffers()->SetReadBuffer(0); }), u"Invalid buffer size.");
    EXPECT_EQ(MessageOf<vyrEInvalidArgument>([&] { c.Buffers()->SetWriteBuffer(0); }), u"Invalid buffer size.");
    EXPECT_EQ(MessageOf<vyrEInvalidArgument>([&] { ir.SetService(u""); }), u"Invalid service.");
    EXPECT_EQ(MessageOf<vyrEInvalidArgument>([&] { se.SetPort(0); }), u"Invalid port number");
    EXPECT_EQ(MessageOf<vyrEInvalidArgument>([&] { se.SetBaudRateValue(0); }), u"Invalid BaudRate value.");
    EXPECT_EQ(MessageOf<vyrEInvalidAddress>([&] { bt.SetAddress(u"0a:1B:2c:3D:4e:5F"); }),
              u"0a:1B:2c:3D:4e:5F is not valid bluetooth address.");
    EXPECT_EQ(MessageOf<vyrEInvalidAddress>([&] { ir.SetAddress(u"(01:02:03)"); }),
              u"(01:02:03) is not valid IrDA address.");
    EXPECT_EQ(se.Port(), 1u);
    EXPECT_EQ(bt.Address(), u"(00:00:00:00:00:00)");

    // Accepted values are stored as given, letter case included.
    bt.SetAddress(u"(0a:1B:2c:3D:4e:5F)");
    EXPECT_EQ(bt.Address(), u"(0a:1B:2c:3D:4e:5F)");
    ir.SetAddress(u"(aB:01:02:Ff)");
    EXPECT_EQ(ir.Address(), u"(aB:01:02:Ff)");
    ir.SetService(u"OBEX");
    EXPECT_EQ(ir.Service(), u"OBEX");
    c.Buffers()->SetReadBuffer(1);
    EXPECT_EQ(c.Buffers()->ReadBuffer(), 1u);
    bt.SetService(kObexPush);
    EXPECT_TRUE(bt.Service() == kObexPush);
}

TEST(ConnectionParams, AuthenticationAndEncryptionMoveTogether) {
    StubConnection c;
    TvyrClientBluetoothParams bt(&c);
    bt.SetAuthentication(false);
    EXPECT_FALSE(bt.Encryption());
    bt.SetEncryption(true);
    EXPECT_TRUE(bt.Authentication());
    EXPECT_TRUE(bt.Encryption());
    bt.SetAuthentication(false);
    EXPECT_FALSE(bt.Authentication());
    EXPECT_FALSE(bt.Encryption());
    bt.SetAuthentication(true);
    EXPECT_FALSE(bt.Encryption()); // authentication alone does not ask for encryption
}

TEST(ConnectionParams, BaudRateAndItsValueStayPaired) {
    StubConnection c;
    TvyrClientSerialParams se(&c);
    se.SetBaudRateValue(57600);
    EXPECT_EQ(se.BaudRate(), br57600);
    se.SetBaudRateValue(57601);
    EXPECT_EQ(se.BaudRate(), brCustom);
    se.SetBaudRate(brCustom);
    EXPECT_EQ(se.BaudRateValue(), 57601u);
    se.SetBaudRate(br9600);
    EXPECT_EQ(se.BaudRateValue(), 9600u);
    se.SetBaudRate(br256000);
    EXPECT_EQ(se.BaudRateValue(), 256000u);
    se.SetBaudRate(br110);
    EXPECT_EQ(se.BaudRateValue(), 110u);
    se.SetBaudRateValue(128000);
    EXPECT_EQ(se.BaudRate(), br128000);
    se.SetBaudRateValue(UINT_MAX);
    EXPECT_EQ(se.BaudRate(), brCustom);
}

TEST(ConnectionParams, RadioIsAnOwnedCopy) {
    StubConnection c;
    TvyrClientBluetoothParams bt(&c);
    TvyrBluetoothRadio toshiba(baToshiba);
    bt.SetRadio(&toshiba);
    ASSERT_NE(bt.Radio(), nullptr);
    EXPECT_NE(bt.Radio(), &toshiba);
    EXPECT_EQ(bt.Radio()->Api(), baToshiba);
    TvyrBluetoothRadio* owned = bt.Radio();
    TvyrBluetoothRadio widcomm(baWidComm);
    bt.SetRadio(&widcomm); // copied into the copy it already has
    EXPECT_EQ(bt.Radio(), owned);
    EXPECT_EQ(bt.Radio()->Api(), baWidComm);
    toshiba.Assign(&widcomm);
    EXPECT_EQ(bt.Radio()->Api(), baWidComm);

    c.closed = false;
    EXPECT_NO_THROW(bt.SetRadio(bt.Radio())); // its own copy is equal
    c.closed = true;
    bt.SetRadio(nullptr);
    EXPECT_EQ(bt.Radio(), nullptr);
    bt.SetRadio(nullptr);
}

TEST(ConnectionParams, AssignCopiesThroughTheSetters) {
    StubConnection c;
    TvyrClientBluetoothParams src(&c), dst(&c);
    TvyrBluetoothRadio ms(baMicrosoft);
    src.SetAddress(u"(11:22:33:44:55:66)");
    src.SetEncryption(true);
    src.SetChannel(9);
    src.SetService(kObexPush);
    src.SetRadio(&ms);
    dst.Assign(&src);
    EXPECT_EQ(dst.Address(), u"(11:22:33:44:55:66)");
    EXPECT_TRUE(dst.Encryption());
    EXPECT_EQ(dst.Channel(), 9);
    EXPECT_TRUE(dst.Service() == kObexPush);
    ASSERT_NE(dst.Radio(), nullptr);
    EXPECT_NE(dst.Radio(), src.Radio()); // deep
    EXPECT_EQ(dst.Radio()->Api(), baMicrosoft);
    src.SetRadio(nullptr);
    dst.Assign(&src);
    EXPECT_EQ(dst.Radio(), nullptr); // a source without a radio frees the copy

    // A plain Bluetooth parameter object takes the shared fields of a client one.
    TvyrCustomBuetoothParams plain(&c);
    plain.Assign(&src);
    EXPECT_EQ(plain.Channel(), 9);

    TvyrClientIrDAParams irSrc(&c), irDst(&c);
    irSrc.SetAddress(u"(01:02:03:04)");
    irSrc.SetNineWire(false);
    irSrc.SetService(u"OBEX");
    irDst.Assign(&irSrc);
    EXPECT_EQ(irDst.Address(), u"(01:02:03:04)");
    EXPECT_FALSE(irDst.NineWire());
    EXPECT_EQ(irDst.Service(), u"OBEX");

    TvyrBuffers bSrc(&c);
    bSrc.SetReadBuffer(100);
    bSrc.SetWriteBuffer(200);
    c.Buffers()->Assign(&bSrc);
    EXPECT_EQ(c.Buffers()->ReadBuffer(), 100u);
    EXPECT_EQ(c.Buffers()->WriteBuffer(), 200u);

    TvyrClientSerialParams sSrc(&c), sDst(&c);
    sSrc.SetBaudRateValue(57601);
    sSrc.SetByteSize(bs7);
    sSrc.SetParity(paMark);
    sSrc.SetPort(7);
    sSrc.SetStopBits(sb15);
    sDst.Assign(&sSrc);
    EXPECT_EQ(sDst.BaudRate(), brCustom);
    EXPECT_EQ(sDst.BaudRateValue(), 57601u);
    EXPECT_EQ(sDst.ByteSize(), bs7);
    EXPECT_EQ(sDst.Parity(), paMark);
    EXPECT_EQ(sDst.Port(), 7u);
    EXPECT_EQ(sDst.StopBits(), sb15);
}

TEST(ConnectionParams, AssignFailuresKeepWhatWasCopiedAndRefuseForeignClasses) {
    StubConnection src, dstConn;
    TvyrClientSerialParams s(&src), d(&dstConn);
    s.SetBaudRate(br9600);
    s.SetByteSize(bs5);
    s.SetPort(4);
    // The connection opens after the first field went across.
    dstConn.closedBudget = 1;
    EXPECT_THROW(d.Assign(&s), vyrEConnectionActive);
    EXPECT_EQ(d.BaudRate(), br9600);
    EXPECT_EQ(d.BaudRateValue(), 9600u);
    EXPECT_EQ(d.ByteSize(), bs8);
    EXPECT_EQ(d.Port(), 1u);

    TvyrClientIrDAParams ir(&src);
    EXPECT_EQ(MessageOf<vcl::EConvertError>([&] { src.Buffers()->Assign(&ir); }),
              u"Cannot assign a TvyrClientIrDAParams to a TvyrBuffers.");
    EXPECT_EQ(MessageOf<vcl::EConvertError>([&] { ir.Assign(src.Buffers()); }),
              u"Cannot assign a TvyrBuffers to a TvyrClientIrDAParams.");
    EXPECT_THROW(d.Assign(nullptr), vcl::EConvertError);
    // A parent-class source fills the fields the two share and leaves the address.
    TvyrCustomIrDAParams plain(&src);
    plain.SetNineWire(false);
    ir.SetAddress(u"(01:02:03:04)");
    ir.Assign(&plain);
    EXPECT_FALSE(ir.NineWire());
    EXPECT_EQ(ir.Address(), u"(01:02:03:04)");
}
