#include <cstdio>
#include <exception>

#include "Exception.h"
#include "SetNetworkCommand.h"

// Nothing may escape: an unexpected failure still ends with a message and
// a non-zero status.
int main(int argc, char** argv) {
    try {
        return setNetwork(argc, argv);
    } catch (const Exception& e) {
        std::printf("SetNetwork: %s\n", e.getMessage().c_str());
    } catch (const std::exception& e) {
        std::printf("SetNetwork: %s\n", e.what());
    } catch (...) {
        std::printf("SetNetwork: unexpected failure\n");
    }
    std::fflush(stdout);
    return 1;
}
