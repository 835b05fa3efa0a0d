#include <csvfunctions.h>
#include <dpdatatype.h>

#include <cstdio>

int main()
{
    const QStringList fields = csvParseString(QStringLiteral("a;\"b;c\""), SemicolonSeparated);
    const bool ok = DPDataTypeToString(dpdtFloatValid) == QLatin1String("FLOATVALID") && fields.size() == 2;
    std::printf("%s\n", ok ? "linked" : "wrong");
    return ok ? 0 : 1;
}
