#include "drives/BenchmarkResult.h"

#include "foundation/JsonFields.h"

namespace keldwick {

nlohmann::json BenchmarkResult::toJson() const {
    nlohmann::json j = nlohmann::json::object();
    j["sequentialWriteMBps"] = sequentialWriteMBps;
    j["sequentialReadMBps"] = sequentialReadMBps;
    j["randomReadMedianMs"] = randomReadMedianMs;
    j["randomReadP90Ms"] = randomReadP90Ms;
    j["bytesTested"] = bytesTested;
    j["date"] = date.secondsSince2001();
    return j;
}

BenchmarkResult BenchmarkResult::fromJson(const nlohmann::json& object) {
    using namespace JsonFields;
    BenchmarkResult r;
    r.sequentialWriteMBps = number(required(object, "sequentialWriteMBps"));
    r.sequentialReadMBps = number(required(object, "sequentialReadMBps"));
    r.randomReadMedianMs = number(required(object, "randomReadMedianMs"));
    r.randomReadP90Ms = number(required(object, "randomReadP90Ms"));
    r.bytesTested = int64(required(object, "bytesTested"));
    r.date = Date::fromSecondsSince2001(number(required(object, "date")));
    return r;
}

}  // namespace keldwick
