#include "aja/ntv2/ntv2task.h"

#include <cstring>

CNTV2Task::CNTV2Task() {
    Init();
}

CNTV2Task::CNTV2Task(const CNTV2Task& other)
    : mTaskStruct(other.mTaskStruct), mTasks(other.mTasks) {
    mTaskStruct.taskArray = mTasks.data();
}

CNTV2Task& CNTV2Task::operator=(const CNTV2Task& other) {
    mTaskStruct = other.mTaskStruct;
    mTasks = other.mTasks;
    mTaskStruct.taskArray = mTasks.data();
    return *this;
}

void CNTV2Task::Init() {
    mTaskStruct = AUTOCIRCULATE_TASK_STRUCT{};
    mTaskStruct.taskVersion = AUTOCIRCULATE_TASK_VERSION;
    mTaskStruct.taskSize = sizeof(AutoCircGenericTask);
    mTaskStruct.maxTasks = AUTOCIRCULATE_TASK_MAX_TASKS;
    mTaskStruct.taskArray = mTasks.data();
    Clear();
}

void CNTV2Task::Clear() {
    mTaskStruct.numTasks = 0;
}

AutoCircGenericTask* CNTV2Task::Next() {
    if (mTaskStruct.numTasks >= AUTOCIRCULATE_TASK_MAX_TASKS) return nullptr;
    AutoCircGenericTask* t = &mTasks[mTaskStruct.numTasks++];
    std::memset(t, 0, sizeof *t);
    return t;
}

AutoCircGenericTask* CNTV2Task::AddRegisterWriteTask(ULWord regNum, ULWord value, ULWord mask,
                                                     ULWord shift) {
    AutoCircGenericTask* t = Next();
    if (!t) return nullptr;
    t->taskType = eAutoCircTaskRegisterWrite;
    t->u.registerTask = AutoCircRegisterTask{regNum, value, mask, shift};
    return t;
}

AutoCircGenericTask* CNTV2Task::AddRegisterReadTask(ULWord regNum, ULWord mask, ULWord shift) {
    AutoCircGenericTask* t = Next();
    if (!t) return nullptr;
    t->taskType = eAutoCircTaskRegisterRead;
    t->u.registerTask = AutoCircRegisterTask{regNum, 0, mask, shift};
    return t;
}

AutoCircGenericTask* CNTV2Task::AddTimeCodeWriteTask(
    RP188_STRUCT* tcInOut1, RP188_STRUCT* tcInOut2, RP188_STRUCT* ltcEmbedded,
    RP188_STRUCT* ltcAnalog, RP188_STRUCT* ltcEmbedded2, RP188_STRUCT* ltcAnalog2,
    RP188_STRUCT* tcInOut3, RP188_STRUCT* tcInOut4, RP188_STRUCT* tcInOut5, RP188_STRUCT* tcInOut6,
    RP188_STRUCT* tcInOut7, RP188_STRUCT* tcInOut8) {
    AutoCircGenericTask* t = Next();
    if (!t) return nullptr;
    t->taskType = eAutoCircTaskTimeCodeWrite;
    const RP188_STRUCT none{0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    auto take = [&](RP188_STRUCT* p) { return p ? *p : none; };
    AutoCircTimeCodeTask& tc = t->u.timeCodeTask;
    tc.TCInOut1 = take(tcInOut1);
    tc.TCInOut2 = take(tcInOut2);
    tc.LTCEmbedded = take(ltcEmbedded);
    tc.LTCAnalog = take(ltcAnalog);
    tc.LTCEmbedded2 = take(ltcEmbedded2);
    tc.LTCAnalog2 = take(ltcAnalog2);
    tc.TCInOut3 = take(tcInOut3);
    tc.TCInOut4 = take(tcInOut4);
    tc.TCInOut5 = take(tcInOut5);
    tc.TCInOut6 = take(tcInOut6);
    tc.TCInOut7 = take(tcInOut7);
    tc.TCInOut8 = take(tcInOut8);
    return t;
}

AutoCircGenericTask* CNTV2Task::AddTimeCodeReadTask() {
    AutoCircGenericTask* t = Next();
    if (t) t->taskType = eAutoCircTaskTimeCodeRead;
    return t;
}

AutoCircGenericTask* CNTV2Task::GetTask(ULWord index) {
    return index < mTaskStruct.numTasks ? &mTasks[index] : nullptr;
}

const AutoCircGenericTask* CNTV2Task::GetTask(ULWord index) const {
    return index < mTaskStruct.numTasks ? &mTasks[index] : nullptr;
}
