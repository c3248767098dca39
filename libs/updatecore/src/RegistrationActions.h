#pragma once

#include <cstdint>
#include <functional>

#include "LmProduct.h"
#include "String.h"

// Entry operations that register, deregister and list the products of the
// inventory. The caller binds LmUpdateStore::instance() to the inventory
// file first. Listings and option errors go to standard output, results of
// changes to the system log.

// Results of the registration actions.
inline constexpr int kRegisterFailed = -3;
inline constexpr int kDeregisterFailed = -4;
inline constexpr int kNothingToList = -1;

// The value of a command-line option, false when it is absent.
using OptionLookup = std::function<bool(const String& name, String& value)>;

// Fills product from the options id, name and, when full, desc, lang-code,
// oem, serialno, parent, path, version, version-status and version-desc.
// An option with an empty value counts as missing. False after printing the
// reason when a required option is missing or the id is not a number.
bool parseProductArgs(const OptionLookup& options, LmProduct& product, bool full);

// The same for any command-line parser offering getOption (CmdLine).
template <class Options>
requires requires(const Options& options, String& value) {
    { options.getOption(String(), value) } -> std::convertible_to<bool>;
}
bool parseProductArgs(const Options& options, LmProduct& product, bool full) {
    return parseProductArgs(OptionLookup([&options](const String& name, String& value) {
                                return options.getOption(name, value);
                            }),
                            product, full);
}

// Adds the product, replacing an entry of the same id. 0 or kRegisterFailed.
int registerAction(const LmProduct& product);
// Removes the entry of product.info.id. 0 or kDeregisterFailed.
int deregisterAction(const LmProduct& product);
// Lists every product (id 0) or one, with versions and last-update records.
// 0 or kNothingToList.
int listProducts(int32_t id);
// Prints the installed version text of the product whose id, in decimal, is
// exactly idText, or "0". Always 0.
int printProductVersion(const String& idText);
