#ifndef LUACALCSECTION_H
#define LUACALCSECTION_H

class GateXmlConfigLoaderTemplate;
class QDomElement;

// Reads a `luacalc` section: one Lua calculation tie with its input lists
// (`params`, first), its result lists (`results`, then; their parameters
// become providers) and its script (`calcfile`, last), loaded at once.
// False (reported, with Lua's own message for a script that fails to load)
// when the section is malformed.
bool readLuaCalcSection(GateXmlConfigLoaderTemplate &loader, const QDomElement &section);

#endif // LUACALCSECTION_H
