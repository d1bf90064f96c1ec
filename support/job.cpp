#include "support/job.h"

#include "support/handles.h"
#include "support/once.h"

namespace {

struct JobRecord {
    UniqueKernelHandle job;
    DWORD error = ERROR_SUCCESS;  // why there is no job
};

// Not inheritable (no security attributes): no child can hold it open.
JobRecord CreateKillOnCloseJob()
{
    JobRecord record;
    record.job.reset(CreateJobObjectW(nullptr, nullptr));
    if (!record.job) {
        const DWORD error = GetLastError();
        record.error = error;
        return record;
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(record.job.get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits))) {
        const DWORD error = GetLastError();
        record.error = error;
        record.job.reset();
    }
    return record;
}

JobRecord g_job;
INIT_ONCE g_jobOnce = INIT_ONCE_STATIC_INIT;

const JobRecord& Job()
{
    RunOnce(g_jobOnce, [] { g_job = CreateKillOnCloseJob(); });
    return g_job;
}

}  // namespace

HANDLE LauncherJob()
{
    return Job().job.get();
}

DWORD LauncherJobError()
{
    return Job().error;
}
