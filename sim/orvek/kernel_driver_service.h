// A kernel-mode driver loaded through the service control manager for this object's lifetime
// (Windows only). A service of the same name left behind by a process that ended without
// unloading it is stopped and replaced.
#pragma once

#include <string>

namespace crvmon::sim {

class KernelDriverService {
  public:
    // imagePath must be absolute. Throws std::runtime_error naming the step that failed.
    KernelDriverService(const std::wstring& serviceName, const std::wstring& imagePath);
    ~KernelDriverService();
    KernelDriverService(const KernelDriverService&) = delete;
    KernelDriverService& operator=(const KernelDriverService&) = delete;

    // The simulated Orvek driver's image: $CRVMON_ORVEK_DRIVER, else crvmon_orvek_sim.sys
    // beside the running program.
    static std::wstring orvekDriverImage();

  private:
    std::wstring name_;
};

}  // namespace crvmon::sim
