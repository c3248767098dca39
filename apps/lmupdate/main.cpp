#include "Exception.h"
#include "LmUpdateCommand.h"
#include "SystemLog.h"

int main(int argc, char** argv) {
    try {
        return LmUpdateCommand(argc, argv).run();
    } catch (const Exception& e) {
        SystemLog::write("LmUpdate: " + e.getMessage(), LogPriority::kError);
        return ResultCode::kUsageError;
    } catch (...) {
        SystemLog::write("LmUpdate: unexpected failure", LogPriority::kError);
        return ResultCode::kUsageError;
    }
}
