// Stands in for the disk-operation batch until it lands in this tree.
#include "install/disk_ops.hpp"

namespace install {

std::vector<std::string> apply_disk_ops(const std::vector<ipc::RemoteDiskOp>&) {
    return {"disk operations are not available yet"};
}

} // namespace install
