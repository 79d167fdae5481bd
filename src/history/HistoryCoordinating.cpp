#include "history/HistoryCoordinating.h"
