// Account-authority descriptors: a typed value naming the kind of authority an account belongs
// to ("NT", "NDS", or empty when none is named).
#pragma once

#include "zel/runtime/strings.h"
#include "zel/usersal/export.h"

// The base of every user SAL data type.
class ZEL_USERSAL_API UM_BaseDataType {
 public:
  virtual ~UM_BaseDataType();
};

// A data type that holds one text value.
class ZEL_USERSAL_API UM_GenericDescriptor : public UM_BaseDataType {
 public:
  ~UM_GenericDescriptor() override;
  // Sets the value; null sets the empty value.
  void SetValue(const char16_t* value) { value_ = value; }
  const ZELString& GetValue() const { return value_; }

 private:
  ZELString value_;
};

// The authority of an account ("NT", "NDS", ...).
class ZEL_USERSAL_API UM_AcctAuthType : public UM_GenericDescriptor {
 public:
  ~UM_AcctAuthType() override;
};
