// The floor of a program that wakes every five seconds and does nothing else:
// what the idle minute of a program with a 5 s tick costs at the least.

#include <poll.h>

int main()
{
    for (;;)
        poll(nullptr, 0, 5000);
}
