// Milliseconds of elapsed (steady) time since the process started; the
// clock of the sync trace, the connect-time line and the download time.
#pragma once

namespace vk::link {
long MsClock();
}
