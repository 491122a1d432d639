// What the installation subsystem offers: the shared model records, the
// installation run and each of its steps. Each step has a header of its own;
// this one gathers them.
#pragma once

#include "install/clock.h"
#include "install/driver.h"
#include "install/error_text.h"
#include "install/model.h"
#include "install/preflight.h"
#include "install/queries.h"
#include "install/queue.h"
#include "install/service.h"
#include "install/shell.h"
#include "install/staging.h"
#include "install/workflow.h"
