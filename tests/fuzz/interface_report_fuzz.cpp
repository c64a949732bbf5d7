// Fuzzes the network interface report with arbitrary adapter lists: names
// and addresses of any bytes, any number of entries. The VPN's adapter
// never appears in the report.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/text.h"
#include "connections/adapters.h"
#include "fuzz_agent.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto& fuzz = lumivo::fuzz::Shared();
    fuzz.Reset();
    lumivo::AdapterList adapters;
    // Fields separated by 0x00, adapters by 0x01.
    std::string field;
    std::vector<std::string> fields;
    auto endAdapter = [&] {
        if (fields.empty()) return;
        lumivo::AdapterInfo adapter;
        adapter.adapterName = fields[0];
        for (std::size_t i = 1; i < fields.size(); i += 2) {
            adapter.ipAddressList.push_back(
                {fields[i], i + 1 < fields.size() ? fields[i + 1] : std::string()});
        }
        if (adapter.ipAddressList.empty()) adapter.ipAddressList.push_back({"0.0.0.0", "0.0.0.0"});
        adapters.push_back(adapter);
        fields.clear();
    };
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0 || data[i] == 1) {
            fields.push_back(field);
            field.clear();
            if (data[i] == 1) endAdapter();
        } else {
            field.push_back(static_cast<char>(data[i]));
        }
    }
    fields.push_back(field);
    endAdapter();
    fuzz.ipHelper.adapters = adapters;

    lumivo::JsonTree report(lumivo::BuildInterfaceReport(fuzz.agent));
    if (cJSON_GetObjectItemCaseSensitive(report.get(), "L2TP Line 0") != nullptr) __builtin_trap();
    lumivo::IsVpnAdapterPresent(fuzz.agent);
    std::string address;
    lumivo::FindVpnAddress(fuzz.agent, address);
    lumivo::PrintJson(report.get());
    return 0;
}
