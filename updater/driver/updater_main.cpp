// The updater program: one run applies one upgrade package.
#include "updt_driver.h"

int main(int argc, char **argv)
{
    return UPDTMain(argc, argv);
}
