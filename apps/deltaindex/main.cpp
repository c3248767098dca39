#include <cstdio>
#include <exception>

#include "DeltaIndexCommand.h"
#include "Exception.h"

// Nothing may escape: an unexpected failure still ends with a message and
// a non-zero status.
int main(int argc, char** argv) {
    try {
        return DeltaIndexCommand(argc, argv).run();
    } catch (const Exception& e) {
        std::fprintf(stderr, "lmupdate-make-delta-index: %s\n", e.getMessage().c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "lmupdate-make-delta-index: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "lmupdate-make-delta-index: unexpected failure\n");
    }
    return DeltaIndexStatus::kFileError;
}
