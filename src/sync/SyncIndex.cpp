#include "SyncIndex.h"
