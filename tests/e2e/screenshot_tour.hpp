// The screenshot mode of the end-to-end driver: it walks the real installer through its five
// pages (the install page before and after installing) and the About box in English, German
// and Arabic, each as a first installation, then in each language the install page of a failed
// installation that could not put back a user's file, and at every stop asks the script that
// runs it for a picture. The two sides meet in a shared folder:
// the driver writes the file "request" holding the picture's name and the screen area to take
// ("en-start 500x300+262+234"), and waits until the script has saved the picture and removed
// the file.
#pragma once

#include <filesystem>

namespace e2e {

// 0 when every picture was taken; the failure is printed otherwise.
int take_screenshots(const std::filesystem::path& folder);

} // namespace e2e
