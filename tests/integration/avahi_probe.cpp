// lumora-discover-probe: runs bridge discovery on the real Avahi back-end and reports
// what it found, for the namespace test to start inside the browsing side's namespace.
//
//   lumora-discover-probe   findBridge(); prints "RESULT <ip>" (empty when none), then
//                           "ID <bridge id>" (empty when its record named none)
//
// Discovery's own lines go to standard error ("stage: ..."), ZeroConf's to standard output.
// Exit status 0 when a bridge was found.

#include <iostream>

#include "bridge/avahi/avahi_browser.h"
#include "bridge/discovery.h"

int main() {
    lumora::DetectBridgeOptions options;
    options.browserFactory = [] { return lumora::makeAvahiBrowser(); };
    options.stageSink = [](std::string_view line) { std::cerr << "stage: " << line << std::endl; };
    const lumora::FoundBridge found = lumora::findBridge(options);
    std::cout << "RESULT " << found.address << "\nID " << found.id << std::endl;
    return found.address.empty() ? 1 : 0;
}
