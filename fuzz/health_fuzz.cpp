// The health address rules on fuzzed HealthCheckUrl values and Jetty base
// files: whatever is accepted gives a request with no line break before its
// end and an address that reads back as itself; IP literals written out are
// parsed again to the same bytes.
#include <string>
#include <vector>

#include "fuzz/fuzz_common.h"
#include "launcher/health_address.h"

namespace {

void CheckAccepted(const HealthAddress& address)
{
    const std::string request = ComposeHealthRequest(address);
    const size_t headersEnd = request.find("\r\n\r\n");
    FUZZ_CHECK(headersEnd != std::string::npos && headersEnd + 4 == request.size());
    // Every line break is a header's end: nothing was injected.
    for (size_t at = request.find_first_of("\r\n"); at < headersEnd; at = request.find_first_of("\r\n", at + 2))
        FUZZ_CHECK(request.compare(at, 2, "\r\n") == 0);
    FUZZ_CHECK(address.port != 0 && !address.path.empty() && address.path[0] == '/');
    IpAddress again;
    FUZZ_CHECK(ParseIpAddress(IpAddressText(address.ip), again));
    FUZZ_CHECK(again.v6 == address.ip.v6 && again.bytes == address.ip.bytes);
    HealthAddress reparsed;
    FUZZ_CHECK(ParseHealthUrl(address.text, reparsed) == HealthAddressParse::kAddress);
    FUZZ_CHECK(reparsed.text == address.text && reparsed.hostHeader == address.hostHeader);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider provider(data, size);
    switch (provider.ConsumeIntegralInRange<int>(0, 2)) {
    case 0: {
        const std::wstring value = fuzz::ConsumeWide(provider, 300);
        HealthAddress address;
        if (ParseHealthUrl(value, address) == HealthAddressParse::kAddress)
            CheckAccepted(address);
        break;
    }
    case 1: {
        std::vector<std::string> files;
        while (provider.remaining_bytes() > 0 && files.size() < 4)
            files.push_back(provider.ConsumeRandomLengthString(400));
        HealthAddress address;
        if (DeriveHealthAddress(files, address) == HealthAddressParse::kAddress)
            CheckAccepted(address);
        break;
    }
    default: {
        // Any 16 bytes as an IPv6 address, and any 4 as IPv4.
        IpAddress address;
        address.v6 = provider.ConsumeBool();
        for (uint8_t& byte : address.bytes)
            byte = address.v6 || &byte < address.bytes.data() + 4 ? provider.ConsumeIntegral<uint8_t>() : 0;
        IpAddress again;
        FUZZ_CHECK(ParseIpAddress(IpAddressText(address), again));
        FUZZ_CHECK(again.v6 == address.v6 && again.bytes == address.bytes);
        break;
    }
    }
    return 0;
}
