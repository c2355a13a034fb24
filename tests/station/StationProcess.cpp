// A whole station in a process of its own, with its own simulated air, for the tests where
// several stations share one database server.
//
//   tavlin-test-station SERVER PATH PASSWORD RADIO OWN_PHONES INBOX [PUSH_DELAY_MS [SLOW_FINAL_MS]]
//
// The connection settings go in through the database dialog, as an operator enters them.
// The air holds one radio (address 00:11:22:33:44:RADIO, RADIO in hex), the twenty phones every
// station sees (00:1E:3A:00:00:01 ... 14) and OWN_PHONES of its own (00:1E:3A:RADIO:00:01 ...);
// each phone's inbox is INBOX/<address without colons>; the first of the twenty answers the final PUT
// of an object SLOW_FINAL_MS later than the others. Sending starts at once. A line "stop" on
// standard input, or its end, stops the senders and ends the process.
//
// Standard output, one line per event: "connected", "cycle", "check <address> <status text>",
// "sending <address>", "putting <address>" (its content is going out), "sent <address> <error>",
// "state <text>" (the status bar's sender state, when it changes), "outage" (the connection is lost
// and no sender runs any more), "reattached", "away <ms>" (the event loop was away that long, when
// over half a second), "error <text>" (every box the station showed), "stopped".
#include "AirPhones.h"
#include "PhoneRoads.h"
#include "QtTestApp.h"
#include "dbsettings.h"
#include "main.h"
#include "msgbox.h"
#include "qt/MessageBridge.h"
#include "sim/air/Air.h"
#include "sim/win32/Testing.h"
#include "stopsignal.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTimer>
#include <QTreeWidget>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include <unistd.h>

namespace {

void Say(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

std::string Text(const std::u16string& s) {
    return QString::fromStdU16String(s).toStdString();
}

air::Phone MakePhone(const air::Address& address, const std::string& inboxRoot, int delayMs) {
    const std::string folder = tavtest::AddressFolder(air::AddressToText(address));
    air::Phone p = tavtest::PushPhone(address, "phone " + folder, inboxRoot + "/" + folder);
    p.obex.delayMs = delayMs;
    return p;
}

bool ParseInt(const char* text, int base, int low, int high, int& out) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, base);
    if (!end || *end || end == text || v < low || v > high)
        return false;
    out = static_cast<int>(v);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    int radio = 0, own = 0, delayMs = 0, slowFinalMs = 0;
    if (argc < 7 || argc > 9 || !ParseInt(argv[4], 16, 1, 255, radio) || !ParseInt(argv[5], 10, 0, 200, own) ||
        (argc >= 8 && !ParseInt(argv[7], 10, 0, 60000, delayMs)) ||
        (argc == 9 && !ParseInt(argv[8], 10, 0, 60000, slowFinalMs))) {
        std::fprintf(stderr,
                     "usage: %s SERVER PATH PASSWORD RADIO(hex) OWN_PHONES INBOX [PUSH_DELAY_MS [SLOW_FINAL_MS]]\n",
                     argv[0]);
        return 2;
    }
    EnsureQApplication();
    win::MessageBridge::Install();
    TMessageBoxScript boxes;

    {
        TfmDbSettings dialog;
        dialog.edServer()->setText(QString::fromLocal8Bit(argv[1]));
        dialog.edPath()->setText(QString::fromLocal8Bit(argv[2]));
        dialog.edUserName()->setText(QStringLiteral("SYSDBA"));
        dialog.edPassword()->setText(QString::fromLocal8Bit(argv[3]));
        dialog.done(QDialog::Accepted);
    }

    // The air runs fast so cycles follow each other quickly; the phones' answers keep their delay.
    air::Air& air = air::Air::Instance();
    air.Clear();
    air.SetTimeScale(0.001);
    // The library's response time-out runs on the scaled clock too: a slow phone needs it longer
    // than its answer takes.
    win::test::SetTimeScale(slowFinalMs > 0 ? 20 : 200);
    tavtest::PlugRadio(1, static_cast<uint8_t>(radio));
    for (int i = 1; i <= 20; ++i) {
        air::Phone p = MakePhone({0x00, 0x1E, 0x3A, 0x00, 0x00, static_cast<uint8_t>(i)}, argv[6], delayMs);
        if (i == 1)
            p.obex.finalDelayMs = slowFinalMs;
        air.AddPhone(p);
    }
    for (int i = 1; i <= own; ++i)
        air.AddPhone(MakePhone({0x00, 0x1E, 0x3A, static_cast<uint8_t>(radio), 0x00, static_cast<uint8_t>(i)}, argv[6],
                               delayMs));

    auto window = std::make_unique<TfmMain>();
    if (!window->Connected) {
        for (const auto& b : boxes.Asked())
            Say("error " + b.text.toStdString());
        Say("error not connected");
        return 3;
    }
    Say("connected");
    auto roads = std::make_unique<tavtest::PhoneRoads>();
    TfmMain& w = *window;
    for (int tag = 0; tag < 4; ++tag) {
        vyr::TvyrProximitySender* s = w.Sender(tag);
        auto discovery = s->OnDiscoveryStarted;
        s->OnDiscoveryStarted = [discovery](vcl::TObject* o) {
            Say("cycle");
            discovery(o);
        };
        auto accept = s->OnAcceptDevice;
        s->OnAcceptDevice = [accept, &w](vcl::TObject* o, vyr::TvyrBluetoothDevice* d, bool& ok) {
            accept(o, d, ok);
            const QString mac = QString::fromStdU16String(d->Address());
            for (int i = w.lvProcess->topLevelItemCount() - 1; i >= 0; --i)
                if (w.lvProcess->topLevelItem(i)->text(0) == mac) {
                    Say("check " + mac.toStdString() + " " + w.lvProcess->topLevelItem(i)->text(4).toStdString());
                    break;
                }
        };
        auto started = s->OnSendStarted;
        s->OnSendStarted = [started](vcl::TObject* o, vyr::TvyrBluetoothDevice* d) {
            Say("sending " + Text(d->Address()));
            started(o, d);
        };
        auto putting = s->OnFileSendStarted;
        s->OnFileSendStarted = [putting](vcl::TObject* o, vyr::TvyrBluetoothDevice* d, const std::u16string& file) {
            Say("putting " + Text(d->Address()));
            putting(o, d, file);
        };
        auto complete = s->OnSendComplete;
        s->OnSendComplete = [complete](vcl::TObject* o, vyr::TvyrBluetoothDevice* d, int error) {
            complete(o, d, error);
            Say("sent " + Text(d->Address()) + " " + std::to_string(error));
        };
    }

    // "stop" is read on a thread of its own and ends the station as a termination signal does:
    // the event loop may be inside a database call that waits on a silent server.
    StopOnTerminationSignals([] { QCoreApplication::quit(); });
    std::thread([] {
        std::string input;
        char buf[256];
        ssize_t n = 0;
        while (input.find("stop") == std::string::npos && (n = ::read(STDIN_FILENO, buf, sizeof buf)) > 0)
            input.append(buf, static_cast<size_t>(n));
        ::kill(::getpid(), SIGTERM);
    }).detach();

    // What the operator sees of the station's state, and what the tests wait for.
    QString state;
    bool outage = false;
    QTimer watch;
    QElapsedTimer sinceTick;
    sinceTick.start();
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (const qint64 away = sinceTick.restart(); away > 500)
            Say("away " + std::to_string(away));
        if (w.StatusPanelText(1) != state) {
            state = w.StatusPanelText(1);
            Say("state " + state.toStdString());
        }
        const bool idle = w.Engine->ConnectionLost() && !w.AnySenderActive();
        if (idle && !outage)
            Say("outage");
        else if (outage && !w.Engine->ConnectionLost())
            Say("reattached");
        outage = w.Engine->ConnectionLost() && (outage || idle);
    });
    watch.start(10);

    w.acSenderStart->trigger();
    if (!w.Engine->Running)
        Say("error not started");
    QCoreApplication::exec();
    w.acSenderStop->trigger();
    roads.reset();
    window.reset();
    for (const auto& b : boxes.Asked())
        Say("error " + b.text.toStdString());
    Say("stopped");
    return 0;
}
