#include "PowerStatus.h"
