#include "zel/usersal/credentials.h"

UM_Credentials::~UM_Credentials() { password.wipe(); }
