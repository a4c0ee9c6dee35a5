// SPDX-License-Identifier: GPL-2.0-or-later
// A missing judge is a failure that names it, never a skip.
#include "support/RequireTool.h"

#include <gtest/gtest.h>

#include "support/TestPaths.h"

namespace testsupport {
bool requireTool(const std::string& name) {
  if (haveTool(name)) return true;
  ADD_FAILURE() << name << " is missing: this check needs it as a judge (scripts/setup-tests installs it)";
  return false;
}
}  // namespace testsupport
