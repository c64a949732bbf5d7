// Windows entry point: the Win32 adapters behind the ports, then the agent.
#include "app/agent.h"
#include "platform/win32/files_win32.h"
#include "platform/win32/system_win32.h"

int main() {
    lumivo::Win32System system;
    lumivo::Win32Files files;
    lumivo::Agent agent;
    agent.ports.system = &system;
    agent.ports.files = &files;
    agent.taskbarCreatedMessage = system.RegisterWindowMessage(L"TaskbarCreated");
    return 0;
}
