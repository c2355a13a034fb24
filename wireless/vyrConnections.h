// Connection parameters and the client connection: the state machine, the hidden window, the data path
// and the events around a transport road (vyrTransportRoad.h says how a road plugs in).
#pragma once

#include "vcl/Classes.h"
#include "vyrAPI.h"
#include "vyrConnectionsRadio.h"
#include "win32/WinTypes.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vyr {

class TvyrCustomConnection;
class TvyrCustomClientConnection;
class TvyrTransportRoad;

// ---------------------------------------------------------------------------------------------------
// Parameters. Each object belongs to one connection and refuses any change while that connection is
// not closed. Every setter: an equal value returns at once; then "Connection is active."; then the
// value check; then the store.

class TvyrCustomConnectionParams : public vcl::TPersistent {
public:
    // Raises vyrEInvalidArgument "Connection is required." for a null owner.
    explicit TvyrCustomConnectionParams(TvyrCustomConnection* connection);
    TvyrCustomConnectionParams(const TvyrCustomConnectionParams&) = delete;
    TvyrCustomConnectionParams& operator=(const TvyrCustomConnectionParams&) = delete;

    TvyrCustomConnection* Connection() const { return connection_; }

protected:
    // Raises vyrEConnectionActive unless the owning connection is closed.
    void CheckClosed() const;
    // A setter without a value check: an equal value is silent, a change needs a closed connection.
    template <typename T> void Update(T& field, const T& value) {
        if (value == field)
            return;
        CheckClosed();
        field = value;
    }

private:
    TvyrCustomConnection* connection_;
};

class TvyrBuffers : public TvyrCustomConnectionParams {
public:
    explicit TvyrBuffers(TvyrCustomConnection* connection);

    void Assign(const vcl::TPersistent* source) override;

    win::DWORD ReadBuffer() const { return readBuffer_; }
    void SetReadBuffer(win::DWORD value);
    win::DWORD WriteBuffer() const { return writeBuffer_; }
    void SetWriteBuffer(win::DWORD value);

protected:
    void AssignTo(vcl::TPersistent* dest) const override;

private:
    win::DWORD readBuffer_ = 4096;
    win::DWORD writeBuffer_ = 4096;
};

// BluetoothBaseUuid comes with the radio unit.

class TvyrCustomBuetoothParams : public TvyrCustomConnectionParams {
public:
    explicit TvyrCustomBuetoothParams(TvyrCustomConnection* connection);
    ~TvyrCustomBuetoothParams() override;

    void Assign(const vcl::TPersistent* source) override;

    bool Authentication() const { return authentication_; }
    void SetAuthentication(bool value); // false also turns Encryption off
    win::BYTE Channel() const { return channel_; }
    void SetChannel(win::BYTE value);
    bool Encryption() const { return encryption_; }
    void SetEncryption(bool value); // true also turns Authentication on
    // The owned copy of the radio, or null.
    TvyrBluetoothRadio* Radio() const { return radio_.get(); }
    // Copies the given radio into the owned copy (made when there is none); null frees the copy.
    void SetRadio(const TvyrBluetoothRadio* value);
    const win::GUID& Service() const { return service_; }
    void SetService(const win::GUID& value);

protected:
    void AssignTo(vcl::TPersistent* dest) const override;
    // Copies this object's own fields through dest's setters, in order.
    void CopyBluetoothFieldsTo(TvyrCustomBuetoothParams& dest) const;

private:
    bool authentication_ = true;
    win::BYTE channel_ = 0;
    bool encryption_ = false;
    std::unique_ptr<TvyrBluetoothRadio> radio_;
    win::GUID service_ = BluetoothBaseUuid;
};

class TvyrClientBluetoothParams : public TvyrCustomBuetoothParams {
public:
    explicit TvyrClientBluetoothParams(TvyrCustomConnection* connection);

    void Assign(const vcl::TPersistent* source) override;

    const std::u16string& Address() const { return address_; }
    // Raises vyrEInvalidAddress "<text> is not valid bluetooth address." for a bad text; keeps the case.
    void SetAddress(const std::u16string& value);

protected:
    void AssignTo(vcl::TPersistent* dest) const override;

private:
    std::u16string address_ = u"(00:00:00:00:00:00)";
};

class TvyrCustomIrDAParams : public TvyrCustomConnectionParams {
public:
    explicit TvyrCustomIrDAParams(TvyrCustomConnection* connection);

    void Assign(const vcl::TPersistent* source) override;

    bool NineWire() const { return nineWire_; }
    void SetNineWire(bool value);
    const std::u16string& Service() const { return service_; }
    void SetService(const std::u16string& value); // empty: "Invalid service."

protected:
    void AssignTo(vcl::TPersistent* dest) const override;
    void CopyIrDAFieldsTo(TvyrCustomIrDAParams& dest) const;

private:
    bool nineWire_ = true;
    std::u16string service_ = u"IrDA:IrCOMM";
};

class TvyrClientIrDAParams : public TvyrCustomIrDAParams {
public:
    explicit TvyrClientIrDAParams(TvyrCustomConnection* connection);

    void Assign(const vcl::TPersistent* source) override;

    const std::u16string& Address() const { return address_; }
    void SetAddress(const std::u16string& value); // "<text> is not valid IrDA address."

protected:
    void AssignTo(vcl::TPersistent* dest) const override;

private:
    std::u16string address_ = u"(00:00:00:00)";
};

// The ordinals count: the serial road hands them to the port as they are.
enum TvyrBaudRate : std::uint8_t {
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000,
    brCustom
};
enum TvyrByteSize : std::uint8_t { bs4, bs5, bs6, bs7, bs8 }; // data bits = ordinal + 4
enum TvyrParity : std::uint8_t { paNone, paOdd, paEven, paMark, paSpace };
enum TvyrStopBits : std::uint8_t { sb1, sb15, sb2 };

class TvyrClientSerialParams : public TvyrCustomConnectionParams {
public:
    explicit TvyrClientSerialParams(TvyrCustomConnection* connection);

    void Assign(const vcl::TPersistent* source) override;

    TvyrBaudRate BaudRate() const { return baudRate_; }
    void SetBaudRate(TvyrBaudRate value); // sets BaudRateValue too; brCustom keeps it
    win::DWORD BaudRateValue() const { return baudRateValue_; }
    void SetBaudRateValue(win::DWORD value); // sets BaudRate to the rate's name, else brCustom
    TvyrByteSize ByteSize() const { return byteSize_; }
    void SetByteSize(TvyrByteSize value);
    TvyrParity Parity() const { return parity_; }
    void SetParity(TvyrParity value);
    win::DWORD Port() const { return port_; }
    void SetPort(win::DWORD value); // 0: "Invalid port number"
    TvyrStopBits StopBits() const { return stopBits_; }
    void SetStopBits(TvyrStopBits value);

protected:
    void AssignTo(vcl::TPersistent* dest) const override;

private:
    TvyrBaudRate baudRate_ = br115200;
    win::DWORD baudRateValue_ = 115200;
    TvyrByteSize byteSize_ = bs8;
    TvyrParity parity_ = paNone;
    win::DWORD port_ = 1;
    TvyrStopBits stopBits_ = sb1;
};

// ---------------------------------------------------------------------------------------------------
// Connections.

enum TvyrClientTransport : std::uint8_t { ctBluetooth, ctIrDA, ctSerial };
enum TvyrConnectionState : std::uint8_t { csClosed = 0, csConnecting = 1, csConnected = 2, csDisconnecting = 3 };

using TvyrDataEvent = std::function<void(vcl::TObject* sender, const void* buffer, win::DWORD size)>;
using TvyrClientConnectionConnectEvent = std::function<void(vcl::TObject* sender, int error)>;

// The base of every byte-stream connection: buffer sizes, the hidden window that brings every
// asynchronous result back to the owning thread, the block of received bytes waiting for delivery and
// at most one worker thread.
class TvyrCustomConnection : public vcl::TComponent, protected TvyrHiddenWindowOwner {
public:
    explicit TvyrCustomConnection(vcl::TComponent* owner = nullptr);
    ~TvyrCustomConnection() override;

    virtual bool IsClosed() const = 0;
    // The transport index asked from the API object.
    virtual win::BYTE GetRequiredTransport() const = 0;
    virtual bool IsConnected() const = 0;

    TvyrBuffers* Buffers() const { return buffers_.get(); }
    // Copies the given sizes in; the own object does nothing; null raises "Buffers object is not valid.".
    void SetBuffers(const TvyrBuffers* value);

    // Received bytes that ProcessData did not take. The block is freed after the call: copy what you keep.
    TvyrDataEvent OnData;

    // Stores received bytes for delivery on the window's thread; only while connected. Safe from any
    // thread. The caller posts WM_DATA_PENDING afterwards; true when no delivery is pending yet, so a
    // caller that posts only then keeps one data message pending at a time.
    bool AppendData(const void* buffer, win::DWORD size);
    // Bytes waiting for delivery (for tests and diagnostics).
    win::DWORD PendingSize() const;

protected:
    // Received bytes, on the window's thread; true when consumed (OnData is then not called).
    virtual bool ProcessData(const void* buffer, win::DWORD size);
    virtual void WndProc(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam);

    win::HWND Window() const { return wnd_; }
    // Creates the hidden window when there is none; false when it cannot be created.
    bool CreateWindow();
    void DestroyWindow();
    void FreePendingData();
    // Hands the bytes waiting now to ProcessData / OnData (nothing unless connected).
    void DeliverData();

    // Starts the worker with a fresh manual-reset terminate event: 0, or 1 when the event or the thread
    // cannot be created. The routine gets the terminate event. A routine that throws ends the attempt
    // with 2, or an established link as lost.
    int StartWorker(std::function<void(win::HANDLE terminate)> routine);
    // Sets the terminate event, waits for the worker to end and closes both handles.
    void StopWorker();
    bool HasWorker() const { return worker_ != nullptr; }

private:
    void HiddenWindowMessage(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam) final;

    std::unique_ptr<TvyrBuffers> buffers_;
    win::HWND wnd_ = nullptr;
    mutable win::CRITICAL_SECTION lock_;
    std::vector<std::uint8_t> pending_;
    bool deliveryPending_ = false;    // a WM_DATA_PENDING is on its way for the bytes in pending_
    std::vector<std::uint8_t> spare_; // the last delivered block, emptied, lent back to pending_ (window's thread)
    win::HANDLE worker_ = nullptr;
    win::HANDLE terminate_ = nullptr;
};

// A client connection to one peer over Bluetooth RFCOMM, IrDA or a serial port.
//
// Connect returns at once; the outcome arrives as exactly one OnConnect (unless Disconnect comes first).
// When OnConnect carries an error the connection is already closed, so the handler may change the
// parameters and connect again. OnDisconnect fires only when an established link ends.
//
// A class that overrides Disconnect must call it from its own destructor: this destructor can only reach
// its own Disconnect.
class TvyrCustomClientConnection : public TvyrCustomConnection {
public:
    explicit TvyrCustomClientConnection(vcl::TComponent* owner = nullptr);
    ~TvyrCustomClientConnection() override;

    bool IsClosed() const override { return State() == csClosed; }
    win::BYTE GetRequiredTransport() const override;
    bool IsConnected() const override { return State() == csConnected; }
    // Safe from any thread.
    TvyrConnectionState State() const { return state_.load(); }

    // 0 started; 42 not closed; 13 transport not available; 1 no window; 14 the radio's stack is not
    // there; any other start failure of the road. A failure leaves the connection closed, no event.
    int Connect();
    // Closes the connection; OnDisconnect only when it was connected. Nothing to do when closed.
    virtual void Disconnect();
    // 40 unless connected; else the road's result (0 all bytes handed over, 2 otherwise).
    virtual int Write(const void* buffer, win::DWORD size);

    TvyrClientBluetoothParams* BluetoothParams() const { return bluetoothParams_.get(); }
    void SetBluetoothParams(const TvyrClientBluetoothParams* value);
    TvyrClientIrDAParams* IrDAParams() const { return irdaParams_.get(); }
    void SetIrDAParams(const TvyrClientIrDAParams* value);
    TvyrClientSerialParams* SerialParams() const { return serialParams_.get(); }
    void SetSerialParams(const TvyrClientSerialParams* value);
    win::DWORD ConnectTimeout() const { return connectTimeout_; }
    void SetConnectTimeout(win::DWORD value); // 0: "Timeout is not valid."
    TvyrClientTransport Transport() const { return transport_; }
    void SetTransport(TvyrClientTransport value);

    TvyrClientConnectionConnectEvent OnConnect;
    vcl::TNotifyEvent OnDisconnect;

protected:
    void WndProc(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam) override;
    // The outcome of the attempt, after the state is settled (the OBEX client hooks its session here).
    virtual void DoConnect(int error);
    // An established link ended; the connection is closed already.
    virtual void DoDisconnect();

    bool ConnectTimerArmed() const { return connectTimerArmed_; }
    bool LinkTimerArmed() const { return linkTimerArmed_; }

private:
    friend class TvyrTransportRoad;

    void ConnectResult(int code);
    void TimerTick(win::UINT_PTR id);
    void ApiChanged();
    bool ArmConnectTimer();
    void KillConnectTimer();
    bool ArmLinkTimer();
    void KillLinkTimer();

    std::unique_ptr<TvyrClientBluetoothParams> bluetoothParams_;
    std::unique_ptr<TvyrClientIrDAParams> irdaParams_;
    std::unique_ptr<TvyrClientSerialParams> serialParams_;
    win::DWORD connectTimeout_ = 20000;
    std::atomic<TvyrConnectionState> state_{csClosed};
    TvyrClientTransport transport_ = ctBluetooth;
    bool connectTimerArmed_ = false;
    bool linkTimerArmed_ = false;
    std::unique_ptr<TvyrTransportRoad> road_;
};

} // namespace vyr
