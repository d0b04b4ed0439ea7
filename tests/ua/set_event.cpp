// set_event.exe NAME: sets the named event (a historian's --stop-event), so
// that a test ends a historian it started the way an operator would, and
// the historian withdraws its class object from COM before it goes.
// Exit code 0 when set, 1 when there is no such event.
#include <windows.h>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: set_event NAME\n");
        return 2;
    }
    HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[1]);
    if (event == nullptr)
        return 1;
    const BOOL set = SetEvent(event);
    CloseHandle(event);
    return set ? 0 : 1;
}
