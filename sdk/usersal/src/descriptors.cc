#include "zel/usersal/descriptors.h"

UM_BaseDataType::~UM_BaseDataType() = default;
UM_GenericDescriptor::~UM_GenericDescriptor() = default;
UM_AcctAuthType::~UM_AcctAuthType() = default;
