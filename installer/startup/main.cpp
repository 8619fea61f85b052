// The installer's entry point, and the start-up initialisers that run before it, in this order,
// ahead of every initialiser of default priority: the library search first, the trust in
// junctions second, then the three start-up steps.
#include "installer/startup/process_startup.hpp"

#include <windows.h>

namespace {

struct library_search_step {
    library_search_step() { restrict_library_search(); }
};
struct redirection_trust_step {
    redirection_trust_step() { request_redirection_trust(); }
};
struct processor_check_step {
    processor_check_step() { processor_check(); }
};
struct process_step {
    process_step() { initialize_process(); }
};
struct application_step {
    application_step() { initialize_application_once(); }
};

// The earliest priority a program may take: whatever any initialiser loads finds the search
// already restricted.
__attribute__((init_priority(101))) library_search_step restrict_the_library_search;
// Before anything follows a path: no junction a user made leads the installer elsewhere.
__attribute__((init_priority(102))) redirection_trust_step trust_only_administrators_junctions;
__attribute__((init_priority(1001))) processor_check_step check_processor;
__attribute__((init_priority(1002))) process_step initialize_the_process;
__attribute__((init_priority(1003))) application_step initialize_the_application;

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return run_installer();
}
