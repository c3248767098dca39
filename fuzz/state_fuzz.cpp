// The readers of the client's state files: inventory, partial files, size
// limits, platform and delayed packages.
#include "FuzzInput.h"
#include "LmUpdateParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    LmUpdateParser parser;
    parser.parse(fuzzText(data, size));
    Vector<LmProduct> products(0, 20);
    Vector<int> positions(0, 20);
    parser.readInstalledProducts(products, positions);
    LmProduct product;
    parser.findProduct(1, product);
    Vector<LmPartialFileInfo> files(0, 20);
    parser.readPartialFiles(files);
    SizeLimit limit;
    parser.readSizeLimit(limit);
    PlatformInfo platform;
    parser.readPlatformInfo(platform);
    Vector<LmPackageInfo> packages(0, 20);
    parser.readPackageInfoList(packages, false);
    return 0;
}
