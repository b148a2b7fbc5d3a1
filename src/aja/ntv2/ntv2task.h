// A list of tasks the driver carries out with one AutoCirculate transfer (register writes and
// reads, timecode writes), handed to TransferWithAutoCirculateEx2.
#pragma once

#include <array>

#include "aja/ntv2/ntv2enums.h"

class CNTV2Task {
public:
    CNTV2Task();
    CNTV2Task(const CNTV2Task& other);
    CNTV2Task& operator=(const CNTV2Task& other);
    virtual ~CNTV2Task() = default;

    void Init();
    void Clear();

    AutoCircGenericTask* AddRegisterWriteTask(ULWord regNum, ULWord value, ULWord mask = 0xffffffff,
                                              ULWord shift = 0);
    AutoCircGenericTask* AddRegisterReadTask(ULWord regNum, ULWord mask = 0xffffffff,
                                             ULWord shift = 0);
    // Timecode slots left null are not written (their records stay all ones).
    AutoCircGenericTask* AddTimeCodeWriteTask(
        RP188_STRUCT* tcInOut1 = nullptr, RP188_STRUCT* tcInOut2 = nullptr,
        RP188_STRUCT* ltcEmbedded = nullptr, RP188_STRUCT* ltcAnalog = nullptr,
        RP188_STRUCT* ltcEmbedded2 = nullptr, RP188_STRUCT* ltcAnalog2 = nullptr,
        RP188_STRUCT* tcInOut3 = nullptr, RP188_STRUCT* tcInOut4 = nullptr,
        RP188_STRUCT* tcInOut5 = nullptr, RP188_STRUCT* tcInOut6 = nullptr,
        RP188_STRUCT* tcInOut7 = nullptr, RP188_STRUCT* tcInOut8 = nullptr);
    AutoCircGenericTask* AddTimeCodeReadTask();

    AutoCircGenericTask* GetTask(ULWord index);
    const AutoCircGenericTask* GetTask(ULWord index) const;
    ULWord GetNumTasks() const { return mTaskStruct.numTasks; }
    ULWord GetMaxTasks() const { return AUTOCIRCULATE_TASK_MAX_TASKS; }
    PAUTOCIRCULATE_TASK_STRUCT GetTaskStruct() { return &mTaskStruct; }
    operator PAUTOCIRCULATE_TASK_STRUCT() { return &mTaskStruct; }
    operator AUTOCIRCULATE_TASK_STRUCT() const { return mTaskStruct; }

private:
    AutoCircGenericTask* Next();

    AUTOCIRCULATE_TASK_STRUCT mTaskStruct{};
    std::array<AutoCircGenericTask, AUTOCIRCULATE_TASK_MAX_TASKS> mTasks{};
};
