#include "MignoreRules.h"
