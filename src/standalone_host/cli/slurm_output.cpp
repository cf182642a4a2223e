#include "standalone_host/cli/slurm_output.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <map>

namespace KorvoCli {
namespace {

// Array indices stay below Slurm's MaxArraySize (at most 4 000 001); a range past that is not
// one Slurm printed.
constexpr int kMaxTaskId = 4'000'000;

std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

std::optional<int> Number(std::string_view text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty() || value < 0)
        return std::nullopt;
    return value;
}

// A field name of scontrol's one-line output: a capital, then letters, digits and a few marks.
bool IsFieldName(std::string_view name) {
    if (name.empty() || !std::isupper(static_cast<unsigned char>(name.front()))) return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == ':' || c == '/';
    });
}

std::map<std::string, std::string, std::less<>> Fields(std::string_view line) {
    std::map<std::string, std::string, std::less<>> fields;
    std::string* value = nullptr;
    size_t start = 0;
    while (start <= line.size()) {
        size_t end = line.find(' ', start);
        if (end == std::string_view::npos) end = line.size();
        const std::string_view word = line.substr(start, end - start);
        start = end + 1;
        if (word.empty() && !value) continue;
        const size_t equals = word.find('=');
        if (equals != std::string_view::npos && IsFieldName(word.substr(0, equals))) {
            value = &fields[std::string(word.substr(0, equals))];
            *value = word.substr(equals + 1);
        } else if (value) {
            *value += ' ';
            *value += word;
        }
    }
    for (auto& [name, text] : fields) text = std::string(Trim(text));
    return fields;
}

std::string Field(const std::map<std::string, std::string, std::less<>>& fields,
                  std::string_view name) {
    const auto it = fields.find(name);
    return it == fields.end() ? std::string() : it->second;
}

}  // namespace

const char* TaskStateName(TaskState state) {
    switch (state) {
        case TaskState::Pending:
            return "pending";
        case TaskState::Running:
            return "running";
        case TaskState::Done:
            return "done";
        case TaskState::Failed:
            return "failed";
    }
    return "?";
}

TaskState StateFromSlurm(std::string_view slurmState) {
    // sacct adds who cancelled ("CANCELLED by 0"), squeue may add a "+" to a state in flux.
    std::string_view state = Trim(slurmState);
    state = state.substr(0, state.find(' '));
    if (!state.empty() && state.back() == '+') state.remove_suffix(1);
    static constexpr std::string_view kPending[] = {"PENDING", "REQUEUED", "REQUEUE_HOLD",
                                                    "REQUEUE_FED", "RESV_DEL_HOLD"};
    static constexpr std::string_view kFailed[] = {
        "FAILED",   "CANCELLED",     "TIMEOUT", "NODE_FAIL",    "BOOT_FAIL",
        "DEADLINE", "OUT_OF_MEMORY", "REVOKED", "SPECIAL_EXIT", "PREEMPTED"};
    if (state == "COMPLETED") return TaskState::Done;
    for (const std::string_view s : kPending)
        if (state == s) return TaskState::Pending;
    for (const std::string_view s : kFailed)
        if (state == s) return TaskState::Failed;
    return TaskState::Running;
}

std::vector<int> ExpandTaskIds(std::string_view ids) {
    ids = Trim(ids);
    ids = ids.substr(0, ids.find('%'));  // a throttle: "0-7%2"
    std::vector<int> expanded;
    if (ids.empty()) return expanded;
    for (size_t start = 0; start <= ids.size();) {
        size_t comma = ids.find(',', start);
        if (comma == std::string_view::npos) comma = ids.size();
        const std::string_view part = ids.substr(start, comma - start);
        start = comma + 1;
        const size_t dash = part.find('-');
        const std::optional<int> first = Number(part.substr(0, dash));
        const std::optional<int> last =
            dash == std::string_view::npos ? first : Number(part.substr(dash + 1));
        // A step after a colon ("0-15:4") also belongs to sbatch's syntax; Slurm prints the
        // indices it left, so a step here is not Slurm's output.
        if (!first || !last || *last < *first || *last > kMaxTaskId) return {};
        for (int id = *first; id <= *last; ++id) expanded.push_back(id);
    }
    return expanded;
}

std::vector<TaskRecord> ParseScontrolJobs(std::string_view text, std::string_view jobId) {
    std::vector<TaskRecord> records;
    for (const std::string_view line : Lines(text)) {
        const auto fields = Fields(line);
        if (Field(fields, "ArrayJobId") != jobId) continue;
        TaskRecord record;
        record.taskIds = ExpandTaskIds(Field(fields, "ArrayTaskId"));
        if (record.taskIds.empty()) continue;
        record.state = Field(fields, "JobState");
        record.exitCode = Field(fields, "ExitCode");
        record.workDir = Field(fields, "WorkDir");
        record.reason = Field(fields, "Reason");
        records.push_back(std::move(record));
    }
    return records;
}

std::vector<TaskRecord> ParseSacctJobs(std::string_view text, std::string_view jobId) {
    std::vector<TaskRecord> records;
    for (const std::string_view line : Lines(text)) {
        std::vector<std::string_view> columns;
        for (size_t start = 0;;) {
            const size_t bar = line.find('|', start);
            columns.push_back(line.substr(start, bar - start));
            if (bar == std::string_view::npos) break;
            start = bar + 1;
        }
        if (columns.size() < 4) continue;
        const std::string_view id = columns[0];
        const size_t underscore = id.find('_');
        if (underscore == std::string_view::npos || id.substr(0, underscore) != jobId) continue;
        std::string_view tasks = id.substr(underscore + 1);
        if (tasks.find('.') != std::string_view::npos) continue;  // a step, not the task
        if (tasks.size() >= 2 && tasks.front() == '[' && tasks.back() == ']')
            tasks = tasks.substr(1, tasks.size() - 2);
        TaskRecord record;
        record.taskIds = ExpandTaskIds(tasks);
        if (record.taskIds.empty()) continue;
        record.state = Trim(columns[1]);
        record.exitCode = Trim(columns[2]);
        // The folder is the last column: a "|" in its name would have split it.
        const size_t workDir = columns[3].data() - line.data();
        record.workDir = line.substr(workDir);
        records.push_back(std::move(record));
    }
    return records;
}

std::optional<std::string> ParseSubmittedJobId(std::string_view text) {
    const std::vector<std::string_view> lines = Lines(Trim(text));
    if (lines.empty()) return std::nullopt;
    // sbatch may print warnings first; its answer is the last line.
    const std::string_view last = Trim(lines.back());
    const std::string_view id = last.substr(0, last.find(';'));
    if (!IsJobId(id)) return std::nullopt;
    return std::string(id);
}

bool IsJobId(std::string_view text) {
    return !text.empty() && text.size() <= 18 && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c));
    });
}

std::vector<std::string> PanoramasInTaskOutput(std::string_view text) {
    // korvo generate prints each panorama's absolute path on a line of its own.
    std::vector<std::string> panoramas;
    for (const std::string_view line : Lines(text)) {
        if (line.size() > 5 && line.front() == '/' && line.ends_with(".jpg"))
            panoramas.emplace_back(line);
    }
    return panoramas;
}

std::string FailureInTaskOutput(std::string_view text) {
    std::string_view korvo, slurm, last;
    for (const std::string_view raw : Lines(text)) {
        const std::string_view line = Trim(raw);
        if (line.empty()) continue;
        last = line;
        if (line.starts_with("korvo: ") || line.starts_with("korvo farm: ")) korvo = line;
        if (line.starts_with("slurmstepd") || line.starts_with("srun:")) slurm = line;
    }
    if (!korvo.empty()) return std::string(korvo);
    if (!slurm.empty()) return std::string(slurm);
    return std::string(last);
}

}  // namespace KorvoCli
