#include "csvfunctions.h"
