#include <csvfunctions.h>
#include <datapacketwithblobs.h>
#include <dpdatatype.h>
#include <qdatapacket.h>

#include <cstdio>

// Parses a template, writes and reads a value through a handle and by path,
// and packs a text: the installed headers and libraries work together.
int main()
{
    const QStringList fields = csvParseString(QStringLiteral("a;\"b;c\""), SemicolonSeparated);
    bool ok = DPDataTypeToString(dpdtFloatValid) == QLatin1String("FLOATVALID") && fields.size() == 2;

    DataPacketWithBlobs packet;
    ok = ok && packet.parseXML(QByteArray("<packet endian='BigEndian'><section name='s'>"
                                          "<data name='v' datatype='dword' kks='K1'/>"
                                          "<data name='t' datatype='word' metatype='blobqstring'/></section></packet>"));
    ok = ok && packet.nodeByKKS(QStringLiteral("K1")).setULong(258) == 0;
    ok = ok && packet.getULongByPath(QStringLiteral("section/data[@id='v']")) == 258 && packet.buffer().at(3) == 2;
    ok = ok && packet.setQStringByPath(QStringLiteral("hi"), QStringLiteral("section/data[2]")) == 0
        && packet.packBlobs() && packet.blobPart().size() == 12;
    std::printf("%s\n", ok ? "linked" : "wrong");
    return ok ? 0 : 1;
}
