// Keeps the wizard alive while the installation runs on the UI thread: the extraction's progress
// callback, the DirectX set-up's callback and the rollback's waits hand every pending message on
// from here.
#pragma once

#include <windows.h>

// The main wizard window, whose keyboard navigation the pump keeps working. Null until the main
// window sets itself when it starts, and again after it has gone.
HWND main_dialog_window() noexcept;
void set_main_dialog_window(HWND window) noexcept;

// Dispatches every message pending for this thread, then returns. A WM_QUIT is posted again for
// the loop that owns it and ends the pump; whatever follows it stays queued.
void pump_messages();

// Waits one second, dispatching the messages that arrive meanwhile, so that the wizard never
// stops answering (Windows would show it as not responding, and a user might end it). The
// rollback waits so for a file that another program holds.
void wait_one_second_answering_messages();
