#include "xproc_fixture.h"

int main(int argc, char **argv)
{
    return xclient::RunXprocTests(argc, argv, xproc::kUnfixedServerClsid, xproc::kUnfixedOption, true);
}
