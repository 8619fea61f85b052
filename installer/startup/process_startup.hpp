// The road from the start of the process to the wizard: the start-up initialisers that run
// before the program entry, and the program entry's own steps.
#pragma once

#include <windows.h>

// From here on every library loaded by name, by us or by the system's own libraries, comes from
// the system folder: never from this program's folder, which is wherever a download put it, nor
// from the current folder. The first thing the process does.
void restrict_library_search();

// Asks the system not to follow a junction that a user without administrator rights made
// (ProcessRedirectionTrustPolicy, EnforceRedirectionTrust). The system's own answer: where it
// has no such policy (before Windows 8, or one that does not know it), the process goes on as
// before, so a refusal never ends it. set_policy stands for SetProcessMitigationPolicy; null
// is a system without it. True when the policy was set.
using set_mitigation_policy_function = BOOL(WINAPI*)(PROCESS_MITIGATION_POLICY policy, PVOID buffer, SIZE_T length);
bool request_redirection_trust(set_mitigation_policy_function set_policy);
// The same with the system's own function, looked up in kernel32.
bool request_redirection_trust();

// Ends the process with a message in three languages (exit code 1) when the processor has no
// SSE2, which the whole program is built for.
void processor_check();

// The process-wide set-up, once per process: no system boxes for critical errors and missing
// files, and the user's own locale as the standard library's global locale. Always true.
bool initialize_process();

// Makes the user's locale the global locale: its name, else the environment's default, else the
// classic locale. Always true; it never ends the program.
bool set_user_locale();

// The application initialisation of the library, once per process, after initialize_process.
void initialize_application_once();

// The program entry's work: the icon hook, the settings and their start-up checks, and the
// modal wizard. Returns the process's exit code, 0 whatever the outcome.
int run_installer();
