#include "RecordBuilders.h"

LmProduct productRecord(int32_t id, const char* name, const char* version,
                        const ProductFields& fields) {
    LmProduct product;
    product.info.id = id;
    product.info.name = name;
    product.info.desc = fields.desc;
    product.info.serialNo = fields.serialNo;
    product.info.parent = fields.parent;
    product.info.installPath = fields.installPath;
    product.version = LmVersionInfo(version, fields.versionStatus, fields.versionDesc);
    return product;
}
