// Reading a card whose NOTE runs over many lines: folded lines (each continuation begins with a space) and
// quoted-printable lines (each ends in a soft break), from 2,000 to 32,000 lines. The time per line should
// stay flat as the note grows.
#include "vyrvCard.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

namespace {

std::string FoldedCard(int lines) {
    std::string card = "BEGIN:VCARD\r\nVERSION:2.1\r\nFN:Bench\r\nNOTE:first line of the note\r\n";
    for (int i = 1; i < lines; ++i)
        card += "  continuation line " + std::to_string(i) + " of a long folded note\r\n";
    return card + "TEL;CELL:+100200300\r\nEND:VCARD\r\n";
}

// The writer's own form: 25 encoded bytes per full line, each line but the last ending in "=".
std::string QuotedPrintableCard(int lines) {
    std::string card = "BEGIN:VCARD\r\nVERSION:2.1\r\nFN:Bench\r\nNOTE;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:";
    std::string full;
    for (int k = 0; k < 25; ++k)
        full += "=4E";
    for (int i = 0; i < lines; ++i)
        card += full + (i + 1 < lines ? "=\r\n" : "\r\n");
    return card + "TEL;CELL:+100200300\r\nEND:VCARD\r\n";
}

void Read(benchmark::State& state, const std::string& text) {
    const int lines = static_cast<int>(state.range(0));
    double seconds = 0;
    for (auto _ : state) {
        TvyrvCard card;
        const auto t0 = std::chrono::steady_clock::now();
        card.LoadFromStream(text);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (card.Explanatory.Notes.empty() || card.Telecom.Phone1.Number.empty()) {
            state.SkipWithError("the card was not read");
            break;
        }
    }
    if (state.iterations())
        state.counters["us_per_line"] = seconds * 1e6 / (static_cast<double>(state.iterations()) * lines);
}

void FoldedNote(benchmark::State& state) {
    Read(state, FoldedCard(static_cast<int>(state.range(0))));
}

void QuotedPrintableNote(benchmark::State& state) {
    Read(state, QuotedPrintableCard(static_cast<int>(state.range(0))));
}

} // namespace

BENCHMARK(FoldedNote)->Arg(2000)->Arg(4000)->Arg(8000)->Arg(16000)->Arg(32000)->Unit(benchmark::kMillisecond);
BENCHMARK(QuotedPrintableNote)->Arg(2000)->Arg(4000)->Arg(8000)->Arg(16000)->Arg(32000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
