#pragma once
// DbCommand lives beside DbRecordset, whose objects its queries fill.

#include "db/DbRecordset.h"
