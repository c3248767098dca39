#pragma once

// The registration and listing actions (registerAction, deregisterAction,
// listProducts, printProductVersion and parseProductArgs of LmUpdateCore.h).
#include "LmUpdateCore.h"
