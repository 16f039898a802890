// The menu on the headless screen, from the demo disc the build makes:
// start-up to the main page drawn, and one page switch.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>

#include "Unit1.h"

namespace {

const bool set_up = [] {
    setenv("WIN32_VIDEO", "headless", 1);
    setenv("WIN32_AUDIO", "null", 1);
    setenv("WIN32_SCREEN", "1024x768x32", 1);
    if (chdir(KD_DISC_DIR) != 0) std::abort();
    RegisterFormClasses();
    return true;
}();

// Everything waiting is handled, paints included.
void Settle() {
    for (int i = 0; i < 100; ++i) Application->ProcessMessages();
}

// Form read, sound started, three pictures decoded, effects read, main
// page drawn; then closed down again.
void BM_StartToMainPage(benchmark::State& state) {
    for (auto _ : state) {
        Application->CreateForm(Form1);
        Settle();
        state.PauseTiming();
        Application->DestroyComponents();
        Form1 = nullptr;
        state.ResumeTiming();
    }
}
BENCHMARK(BM_StartToMainPage)->Unit(benchmark::kMillisecond)->Iterations(10);

// Main page to install page and back, as the buttons do it (without the
// sounds), each with its paints.
void BM_PageSwitch(benchmark::State& state) {
    Application->CreateForm(Form1);
    Settle();
    for (auto _ : state) {
        Form1->ShowInstallPage();
        Settle();
        Form1->ShowMainPage();
        Settle();
    }
    state.SetItemsProcessed(2 * state.iterations());
    Application->DestroyComponents();
    Form1 = nullptr;
}
BENCHMARK(BM_PageSwitch)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
