#include "Exception.h"
#include "LmUpdateCommand.h"
#include "SystemLog.h"

int main(int argc, char** argv) {
    try {
        return LmUpdateCommand(argc, argv).run();
    } catch (const Exception& e) {
        SystemLog::write("LmUpdate: " + e.getMessage());
        return ResultCode::kUsageError;
    } catch (...) {
        SystemLog::write("LmUpdate: unexpected failure");
        return ResultCode::kUsageError;
    }
}
