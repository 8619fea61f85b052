// The installer's entry point, and the three start-up initialisers that run before it, in this
// order, ahead of every initialiser of default priority.
#include "installer/startup/process_startup.hpp"

#include <windows.h>

namespace {

struct processor_check_step {
    processor_check_step() { processor_check(); }
};
struct process_step {
    process_step() { initialize_process(); }
};
struct application_step {
    application_step() { initialize_application_once(); }
};

__attribute__((init_priority(1001))) processor_check_step check_processor;
__attribute__((init_priority(1002))) process_step initialize_the_process;
__attribute__((init_priority(1003))) application_step initialize_the_application;

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return run_installer();
}
