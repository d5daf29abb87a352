#include "updater/failure_point.h"

#include "visa/visa_types.h"

namespace fg {

LinkFault LinkFaultOfStatus(int32_t status) {
  if (status >= 0) return LinkFault::kNone;  // successes and warnings
  switch (status) {
    case visa::VI_ERROR_TMO: return LinkFault::kTimeout;
    // A session whose instrument left the bus: lost at once, or gone by the next call.
    case visa::VI_ERROR_CONN_LOST:
    case visa::VI_ERROR_RSRC_NFOUND: return LinkFault::kConnectionLost;
    default: return LinkFault::kOther;
  }
}

}  // namespace fg
