#include "app/ferroxservice.h"

int main(int argc, char *argv[])
{
    FerroxService service(argc, argv);
    return service.exec();
}
