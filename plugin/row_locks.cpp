#include <boost/make_shared.hpp>

#include "plugin/depth_blur_interface.h"

void depth_blur_interface::resize_row_locks(int32_t rows) {
  if (rows < 0) rows = 0;
  const size_t old = row_locks.size();
  row_locks.resize(size_t(rows));
  for (size_t r = old; r < row_locks.size(); ++r) row_locks[r] = boost::make_shared<boost::mutex>();
}
