#include "ScannedFile.h"
