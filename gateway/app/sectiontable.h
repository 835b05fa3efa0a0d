#ifndef SECTIONTABLE_H
#define SECTIONTABLE_H

#include "config/ferroxxmlconfig.h"

// The program's configuration sections: every tie family's tag with the
// reader that builds its ties, handed to the loader. The only place that
// knows every tie family.
const FerroxXmlConfig::SectionTable &ferroxSectionTable();

#endif // SECTIONTABLE_H
