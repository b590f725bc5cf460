// The socket headers must come before <windows.h>.
#include "scan/echo_probe.h"
#include "scan/host_lookup.h"
#include "scan/scan_engine.h"

namespace qv {

ProbeServices RealProbeServices() {
  ProbeServices services;
  services.echo = [](const std::string& address, std::int32_t timeoutMs) {
    return ProbeEcho(address, timeoutMs, true);
  };
  services.hostName = [](const std::string& address) { return LookupHostName(address); };
  services.macAddress = [](const std::string& address) { return LookupMacAddress(address); };
  return services;
}

}  // namespace qv
