#include "FileKind.h"
