// One backend per Bluetooth stack: the radio, device, service and inquiry operations of that stack, behind
// one interface. A radio chooses its backend once, from its stack kind; the public classes (radio, device,
// discovery) check their arguments and the stack's presence, then forward here. Not for callers.
//
// A backend holds no state of its own: each is one object for the life of the process. Results are the
// library's codes, as the public classes document them.
#pragma once

#include "vyrAPI.h"
#include "vyrTransportRoad.h"
#include "win32/WinTypes.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace vyr {

class TvyrBluetoothDevices;
class TvyrBluetoothService;
class TvyrBluetoothServices;
class TvyrSDPServiceRecord;

// One running inquiry of a discovery. It reports to the discovery's window: WM_DISCOVERY_STARTED (optional,
// before the outcome) and WM_DISCOVERY_COMPLETED with the devices found or nil, or through HandleMessage
// for a stack that notifies the window in its own words.
class TvyrBluetoothInquiry {
public:
    using TvyrCompleted = std::function<void(const TvyrBluetoothDevices* found)>;

    virtual ~TvyrBluetoothInquiry() = default;
    // 0: started, one outcome follows; else a library code and nothing follows.
    virtual int Start(win::HWND wnd, std::uint8_t timeout) = 0;
    // The discovery has taken an outcome.
    virtual void Finished() {}
    // Cuts a running inquiry short; the discovery's window is already gone.
    virtual void Cancel() = 0;
    // A stack's own notice on the discovery's window; true when taken. An outcome goes to `completed`.
    virtual bool HandleMessage(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam, const TvyrCompleted& completed);
};

class TvyrBluetoothBackend {
public:
    virtual ~TvyrBluetoothBackend() = default;

    // The road a client connection takes over this stack.
    virtual TvyrRoadKind RoadKind() const = 0;
    // The stack takes one connection attempt at a time (senders then take turns).
    virtual bool OneAttemptAtATime() const = 0;

    // ---- Radio ----
    virtual int GetRadioAddress(std::u16string& address) const = 0;
    virtual int SetRadioName(const std::u16string& name) const = 0;

    // ---- Device (by address text) ----
    virtual int GetDeviceName(const std::u16string& address, std::u16string& name) const = 0;
    virtual int GetClassOfDevice(const std::u16string& address, int& classOfDevice) const = 0;
    // The PIN is not empty.
    virtual int Pair(const std::u16string& address, const std::u16string& pin) const = 0;
    virtual int Unpair(const std::u16string& address) const = 0;
    // The list is not null; on 0 it holds exactly the services found.
    virtual int EnumServices(const std::u16string& address, TvyrBluetoothServices* services,
                             const win::GUID* uuid) const = 0;

    // ---- Inquiry ----
    // A fresh inquiry for one discovery; null when out of memory.
    virtual std::unique_ptr<TvyrBluetoothInquiry> CreateInquiry() const = 0;
};

// The backend of a stack kind; null for a kind no backend serves.
const TvyrBluetoothBackend* BluetoothBackend(TvyrBluetoothApi api);

// The backends of this build, one per stack (each in its own vyrBackend<Stack>.cpp).
const TvyrBluetoothBackend& BlueSoleilBackend();
const TvyrBluetoothBackend& MicrosoftBackend();
const TvyrBluetoothBackend& ToshibaBackend();
const TvyrBluetoothBackend& WidCommBackend();

// ---- Pieces the backends share ----

// UTF-8 text of a stack buffer, up to the first NUL but never past `capacity` bytes. A buffer filled to
// `capacity` whose last character is incomplete was cut there: that part is dropped.
std::u16string DecodeStackText(const void* data, std::size_t capacity);
// The UTF-8 form of text, cut to at most `limit` bytes on a whole character.
std::string CutUtf8(const std::u16string& text, std::size_t limit);
// A 128-bit UUID written most significant byte first.
win::GUID UuidFromBigEndian(const std::uint8_t* bytes);
// One service from one SDP record; null when the record names no usable class.
std::unique_ptr<TvyrBluetoothService> ServiceFromRecord(const TvyrSDPServiceRecord& record);

// Waits on the calling thread until done() holds, at most limitMs clock milliseconds. With a window only
// that window's message `msg` is dispatched; with none, every message of the thread is. A WM_QUIT ends
// the wait and stays in the queue for the thread's own loop (*quit set). True when done() held.
bool WaitForStackNotice(win::HWND hwnd, win::UINT msg, win::DWORD limitMs, const std::function<bool()>& done,
                        bool* quit = nullptr);

// Appends a device of that address text; a text that is no address is the stack's fault and is skipped
// (a raise here would end the process on a worker or stack thread). Some stacks mark unused entries
// with the empty address.
void AddInquiredDevice(TvyrBluetoothDevices& list, const std::u16string& address, bool skipEmpty = false);
// The outcome of an inquiry, sent to the discovery's window (the list stays the sender's).
void SendInquiryCompleted(win::HWND wnd, const TvyrBluetoothDevices* list);

// An inquiry that blocks: run on a worker thread of its own, which reports its start and its outcome (nil
// when the inquiry failed or threw). `owner` is the discovery's window.
using TvyrBlockingInquiry = std::unique_ptr<TvyrBluetoothDevices> (*)(win::HWND owner, std::uint8_t timeout);
// 0, or 1 when the thread cannot start.
int StartInquiryWorker(win::HWND wnd, std::uint8_t timeout, TvyrBlockingInquiry inquiry);

} // namespace vyr
