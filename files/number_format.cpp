#include "files/number_format.h"
