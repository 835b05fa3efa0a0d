#include "utilfunctions.h"
