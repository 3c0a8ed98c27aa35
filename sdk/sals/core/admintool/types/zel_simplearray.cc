#include "zel/admintool/zel_simplearray.h"

template class ZEL_SimpleArray<uint64_t>;
template class ZEL_SimpleArray<UM_AccountInfo>;
