#include "analyzer/frameanalyzer.h"
