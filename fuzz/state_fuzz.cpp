// The readers of the client's state files: inventory, partial files, size
// limits, platform and delayed packages.
#include "FuzzInput.h"
#include "StateDocument.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    StateDocument state;
    state.parse(fuzzText(data, size));
    Vector<LmProduct> products(0, 20);
    Vector<int> positions(0, 20);
    state.readInstalledProducts(products, positions);
    LmProduct product;
    state.findProduct(1, product);
    Vector<LmPartialFileInfo> files(0, 20);
    state.readPartialFiles(files);
    SizeLimit limit;
    state.readSizeLimit(limit);
    PlatformInfo platform;
    state.readPlatformInfo(platform);
    Vector<LmPackageInfo> packages(0, 20);
    state.readPackageInfoList(packages, false);
    return 0;
}
