#ifndef FILESECTIONS_H
#define FILESECTIONS_H

class GateXmlConfigLoaderTemplate;
class QDomElement;

// Reads a `textfilein` section: one text file input tie with its parameter
// lists (`csvlist`, first) and its input file (`infile`, once, after the
// lists). False (reported) when the section is malformed.
bool readTextFileInSection(GateXmlConfigLoaderTemplate &loader, const QDomElement &section);

// Reads a `textfileout` section: one text file output tie with its columns,
// validity texts, interval, synchronisation and switch, its parameter lists
// (`csvlist`, first) and its output files (`outfile`, once, after the
// lists). False (reported) when the section is malformed.
bool readTextFileOutSection(GateXmlConfigLoaderTemplate &loader, const QDomElement &section);

// Reads a `plottextfileout` section: one plot file output tie with its
// interval, parameter lists and output files. False (reported) when the
// section is malformed.
bool readPlotTextFileOutSection(GateXmlConfigLoaderTemplate &loader, const QDomElement &section);

#endif // FILESECTIONS_H
