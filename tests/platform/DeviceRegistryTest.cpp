// Device-node ids, registry values, the computer name and device control requests of the platform.
#include "StackFixture.h"

#include "win32/abi_setupapi.h"
#include "vcl/Registry.h"
#include "win32/DeviceRegistry.h"
#include "win32/Registry.h"
#include "win32/Windows.h"

#include <gtest/gtest.h>

#include <bit>
#include <vector>

namespace {

class DeviceRegistry : public StackFixture {
protected:
    // The hardware id list and instance id of each Bluetooth-class node, read with the growth rule.
    std::vector<std::pair<std::u16string, std::u16string>> BluetoothNodes() {
        const auto guid = std::bit_cast<win::GUID>(stackabi::sp::GUID_DEVCLASS_BLUETOOTH);
        win::HDEVINFO set = win::SetupDiGetClassDevsW(&guid, nullptr, nullptr, 0x0A);
        EXPECT_NE(set, win::INVALID_HANDLE_VALUE);
        std::vector<std::pair<std::u16string, std::u16string>> out;
        win::SP_DEVINFO_DATA d{};
        d.cbSize = sizeof d;
        for (win::DWORD i = 0; win::SetupDiEnumDeviceInfo(set, i, &d); ++i) {
            win::DWORD required = 0, type = 0;
            win::BYTE small[4];
            EXPECT_FALSE(win::SetupDiGetDeviceRegistryPropertyW(set, &d, win::SPDRP_HARDWAREID, &type, small,
                                                                sizeof small, &required));
            EXPECT_EQ(win::GetLastError(), win::ERROR_INSUFFICIENT_BUFFER);
            std::vector<win::BYTE> hw(required);
            EXPECT_TRUE(win::SetupDiGetDeviceRegistryPropertyW(set, &d, win::SPDRP_HARDWAREID, &type, hw.data(),
                                                               required, &required));
            EXPECT_EQ(type, win::REG_MULTI_SZ);
            // A multi-string ends with two terminators.
            EXPECT_EQ(hw[required - 1], 0);
            EXPECT_EQ(hw[required - 3], 0);
            std::u16string ids(reinterpret_cast<const char16_t*>(hw.data()), required / 2);

            EXPECT_FALSE(win::SetupDiGetDeviceInstanceIdW(set, &d, nullptr, 0, &required));
            EXPECT_EQ(win::GetLastError(), win::ERROR_INSUFFICIENT_BUFFER);
            std::vector<char16_t> inst(required);
            EXPECT_TRUE(win::SetupDiGetDeviceInstanceIdW(set, &d, inst.data(), required, nullptr));
            EXPECT_EQ(inst[required - 1], 0);
            out.emplace_back(ids, std::u16string(inst.data()));
        }
        win::SetupDiDestroyDeviceInfoList(set);
        return out;
    }
};

TEST_F(DeviceRegistry, BluetoothNodesCarryIdsWithTheEnumeratorFirst) {
    EXPECT_TRUE(BluetoothNodes().empty());
    SetRadio(static_cast<int>(air::StackKind::Microsoft), true);
    auto nodes = BluetoothNodes();
    ASSERT_EQ(nodes.size(), 2u);
    EXPECT_NE(nodes[0].first.find(u"MS_BTHBRB"), std::u16string::npos);
    EXPECT_EQ(nodes[1].first.find(u"MS_BTHBRB"), std::u16string::npos);
    EXPECT_EQ(nodes[1].second, win::MicrosoftRadioInstanceId());
    // The radio's parameter key exists once the radio has been seen.
    vcl::TRegistry reg(vcl::HKEY_LOCAL_MACHINE);
    EXPECT_TRUE(reg.KeyExists(u"\\SYSTEM\\CurrentControlSet\\Enum\\" + nodes[1].second + u"\\Device Parameters"));

    // A node of another set, a stale set, an unknown property and the switches all fail.
    const auto guid = std::bit_cast<win::GUID>(stackabi::sp::GUID_DEVCLASS_BLUETOOTH);
    win::HDEVINFO set = win::SetupDiGetClassDevsW(&guid, nullptr, nullptr, 0x0A);
    win::SP_DEVINFO_DATA d{};
    d.cbSize = sizeof d;
    ASSERT_TRUE(win::SetupDiEnumDeviceInfo(set, 1, &d));
    win::BYTE buf[512];
    win::DWORD req = 0;
    EXPECT_FALSE(win::SetupDiGetDeviceRegistryPropertyW(set, &d, 2, nullptr, buf, sizeof buf, &req));
    EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_DATA);
    win::test::FailNext("SetupDiGetDeviceRegistryPropertyW");
    EXPECT_FALSE(win::SetupDiGetDeviceRegistryPropertyW(set, &d, 1, nullptr, buf, sizeof buf, &req));
    win::test::FailNext("SetupDiGetDeviceInstanceIdW");
    EXPECT_FALSE(win::SetupDiGetDeviceInstanceIdW(set, &d, reinterpret_cast<char16_t*>(buf), 256, &req));
    EXPECT_TRUE(win::SetupDiGetDeviceInstanceIdW(set, &d, reinterpret_cast<char16_t*>(buf), 256, &req));
    d.DevInst = win::detail::kIrdaDevInst;
    EXPECT_FALSE(win::SetupDiGetDeviceInstanceIdW(set, &d, reinterpret_cast<char16_t*>(buf), 256, &req));
    EXPECT_EQ(win::GetLastError(), win::ERROR_NO_SUCH_DEVINST);
    win::SetupDiDestroyDeviceInfoList(set);
    d.DevInst = win::detail::kBluetoothRadioDevInst;
    EXPECT_FALSE(win::SetupDiGetDeviceInstanceIdW(set, &d, reinterpret_cast<char16_t*>(buf), 256, &req));
    EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_HANDLE);
}

TEST_F(DeviceRegistry, BinaryValuesShareTheStoreWithTheClassLibrary) {
    win::HKEY key = nullptr;
    // Opening never creates.
    EXPECT_EQ(win::RegOpenKeyW(win::HKEY_LOCAL_MACHINE, u"SOFTWARE\\Tavlin\\Radio", &key), win::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    vcl::TRegistry reg(vcl::HKEY_LOCAL_MACHINE);
    EXPECT_FALSE(reg.KeyExists(u"\\SOFTWARE\\Tavlin\\Radio"));
    ASSERT_TRUE(reg.OpenKey(u"\\SOFTWARE\\Tavlin\\Radio", true));
    reg.WriteString(u"Label", u"hex:00");
    reg.WriteInteger(u"Count", 7);

    ASSERT_EQ(win::RegOpenKeyW(win::HKEY_LOCAL_MACHINE, u"software\\tavlin\\radio", &key), win::ERROR_SUCCESS);
    EXPECT_EQ(win::test::OpenRegistryKeyCount(), 1);
    const win::BYTE bytes[] = {'K', 0xC3, 0xA9, 0, 0xFF};
    ASSERT_EQ(win::RegSetValueExW(key, u"Local Name", 0, win::REG_BINARY, bytes, sizeof bytes), win::ERROR_SUCCESS);
    EXPECT_EQ(win::RegSetValueExW(key, u"Other", 0, win::REG_SZ, bytes, sizeof bytes), win::ERROR_INVALID_PARAMETER);

    win::DWORD type = 0, size = 0;
    ASSERT_EQ(win::RegQueryValueExW(key, u"Local Name", nullptr, &type, nullptr, &size), win::ERROR_SUCCESS);
    EXPECT_EQ(type, win::REG_BINARY);
    EXPECT_EQ(size, sizeof bytes);
    win::BYTE back[8] = {};
    size = 2;
    EXPECT_EQ(win::RegQueryValueExW(key, u"Local Name", nullptr, &type, back, &size), win::ERROR_MORE_DATA);
    EXPECT_EQ(size, sizeof bytes);
    size = sizeof back;
    ASSERT_EQ(win::RegQueryValueExW(key, u"Local Name", nullptr, &type, back, &size), win::ERROR_SUCCESS);
    EXPECT_EQ(std::vector<win::BYTE>(back, back + size), std::vector<win::BYTE>(bytes, bytes + sizeof bytes));
    // The class library's quoted string that merely looks binary stays a string, and its values survive.
    EXPECT_EQ(win::RegQueryValueExW(key, u"Label", nullptr, &type, nullptr, &size), win::ERROR_SUCCESS);
    EXPECT_EQ(type, win::REG_SZ);
    EXPECT_EQ(reg.ReadString(u"Label"), u"hex:00");
    EXPECT_EQ(reg.ReadInteger(u"Count"), 7);
    EXPECT_TRUE(reg.ValueExists(u"Local Name"));

    EXPECT_EQ(win::RegDeleteValueW(key, u"Local Name"), win::ERROR_SUCCESS);
    EXPECT_EQ(win::RegDeleteValueW(key, u"Local Name"), win::ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(reg.ValueExists(u"Local Name"));
    for (const char* call : {"RegSetValueExW", "RegDeleteValueW", "RegOpenKeyW"})
        win::test::FailNext(call);
    EXPECT_NE(win::RegSetValueExW(key, u"X", 0, win::REG_BINARY, bytes, 1), win::ERROR_SUCCESS);
    EXPECT_NE(win::RegDeleteValueW(key, u"Count"), win::ERROR_SUCCESS);
    win::HKEY again = nullptr;
    EXPECT_NE(win::RegOpenKeyW(key, nullptr, &again), win::ERROR_SUCCESS);
    EXPECT_EQ(reg.ReadInteger(u"Count"), 7);

    EXPECT_EQ(win::RegCloseKey(key), win::ERROR_SUCCESS);
    EXPECT_EQ(win::RegCloseKey(key), win::ERROR_INVALID_HANDLE);
    EXPECT_EQ(win::RegSetValueExW(key, u"X", 0, win::REG_BINARY, bytes, 1), win::ERROR_INVALID_HANDLE);
    EXPECT_EQ(win::test::OpenRegistryKeyCount(), 0);
}

TEST_F(DeviceRegistry, ComputerNameAndControlRequests) {
    win::test::SetComputerName(u"KIOSK-7");
    char16_t name[16] = {};
    win::DWORD size = 4;
    EXPECT_FALSE(win::GetComputerNameW(name, &size));
    EXPECT_EQ(win::GetLastError(), win::ERROR_BUFFER_OVERFLOW);
    EXPECT_EQ(size, 8u);
    ASSERT_TRUE(win::GetComputerNameW(name, &size));
    EXPECT_EQ(std::u16string(name, size), u"KIOSK-7");
    win::test::FailNext("GetComputerNameW");
    size = 16;
    EXPECT_FALSE(win::GetComputerNameW(name, &size));
    // The host's own name: upper case, no domain, at most 15 characters.
    win::test::Reset();
    size = 16;
    ASSERT_TRUE(win::GetComputerNameW(name, &size));
    const std::u16string host(name, size);
    EXPECT_LE(host.size(), 15u);
    EXPECT_EQ(host.find(u'.'), std::u16string::npos);
    for (char16_t c : host)
        EXPECT_FALSE(c >= u'a' && c <= u'z');

    // A handle that is no device refuses control requests; the request is journalled either way.
    win::HANDLE event = win::CreateEventW(nullptr, win::TRUE, win::FALSE, nullptr);
    std::uint32_t in = 4;
    win::test::ClearJournal();
    EXPECT_FALSE(win::DeviceIoControl(event, 0x00411008, &in, sizeof in, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_HANDLE);
    EXPECT_EQ(win::test::Calls("DeviceIoControl"), std::vector<std::string>{"code=0x00411008 in=04000000"});
    win::CloseHandle(event);
}

} // namespace
