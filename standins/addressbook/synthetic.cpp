// Deterministic synthetic contacts: every contact is computed from its index and the seed alone,
// with a generator of fixed definition, so a book is the same on every machine and build.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "addressbook.h"
#include "builder.h"

namespace pellory::standins {

namespace {

class Random {
 public:
  Random(std::uint64_t index, std::uint64_t seed)
      : state_(seed * 0x9E3779B97F4A7C15ULL ^ (index + 1) * 0xD1B54A32D192ED03ULL) {
    Next();
  }

  // splitmix64
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  unsigned Below(unsigned n) { return static_cast<unsigned>(Next() % n); }
  template <std::size_t N>
  std::string_view Pick(const std::array<std::string_view, N>& list) {
    return list[Below(N)];
  }
  void Digits(std::string& out, int count) {
    for (int i = 0; i < count; ++i) out.push_back(static_cast<char>('0' + Below(10)));
  }
  // A digit from 1 to 9, for the first digit of an area code or subscriber number.
  void NonZeroDigit(std::string& out) { out.push_back(static_cast<char>('1' + Below(9))); }

 private:
  std::uint64_t state_;
};

enum Country { kUk, kUs, kDe, kFr };

constexpr std::array<std::string_view, 16> kUkFirst = {
    "James", "Oliver", "Emma",   "Sophie", "Harry", "Charlotte", "George", "Amelia",
    "Jack",  "Olivia", "Thomas", "Emily",  "Sian",  "Niamh",     "Rhys",   "Zoë"};
constexpr std::array<std::string_view, 16> kUkLast = {
    "Smith",  "Jones",   "Williams", "Taylor", "Brown",   "Davies", "Evans",  "Wilson",
    "Thomas", "Roberts", "Johnson",  "Walker", "O'Brien", "Hughes", "Wright", "Green"};
constexpr std::array<std::string_view, 16> kUsFirst = {
    "Michael", "Jennifer", "David",   "Jessica", "Robert", "Ashley", "William", "Sarah",
    "Daniel",  "Megan",    "Matthew", "Lauren",  "José",   "Chloe",  "Ethan",   "Madison"};
constexpr std::array<std::string_view, 16> kUsLast = {
    "Johnson", "Miller", "Davis", "García", "Rodriguez", "Martinez", "Anderson", "Jackson",
    "White",   "Harris", "Clark", "Lewis",  "Robinson",  "Young",    "King",     "Scott"};
constexpr std::array<std::string_view, 16> kDeFirst = {
    "Jürgen", "Lukas", "Anna", "Katrin", "Stefan", "Sabine", "Uwe",     "Monika",
    "Felix",  "Jörg",  "Lena", "Björn",  "Heike",  "Tobias", "Annelie", "Günther"};
constexpr std::array<std::string_view, 16> kDeLast = {
    "Müller", "Schmidt",  "Schneider", "Fischer", "Weber",   "Meyer", "Wagner", "Becker",
    "Schulz", "Hoffmann", "Schröder",  "Koch",    "Richter", "Klein", "Wolf",   "Neumann"};
constexpr std::array<std::string_view, 16> kFrFirst = {
    "François", "Hélène", "Jean",   "Marie",  "Pierre", "Céline", "Luc",    "Amélie",
    "Thierry",  "Noémie", "Benoît", "Claire", "Julien", "Élodie", "Mathis", "Inès"};
constexpr std::array<std::string_view, 16> kFrLast = {
    "Martin",  "Bernard", "Dubois", "Thomas",   "Robert", "Richard", "Petit",  "Durand",
    "Lefèvre", "Leroy",   "Moreau", "Lemaître", "Girard", "Bonnet",  "Dupont", "Lambert"};

constexpr std::array<std::string_view, 20> kFirmWord1 = {
    "Northgate", "Bluebell", "Harbour",  "Meridian",  "Falcon",   "Pinnacle",   "Silverline",
    "Oakridge",  "Redstone", "Alpen",    "Rheinland", "Lumière",  "Atlantique", "Greenfield",
    "Summit",    "Cobalt",   "Westbury", "Hanseatic", "Provence", "Liberty"};
constexpr std::array<std::string_view, 16> kFirmWord2 = {
    "Logistics", "Systems",  "Consulting", "Holdings", "Engineering", "Media",
    "Foods",     "Trading",  "Software",   "Partners", "Technik",     "Bau",
    "Conseil",   "Services", "Pharma",     "Energy"};
constexpr std::array<std::string_view, 2> kUkForm = {"Ltd", "plc"};
constexpr std::array<std::string_view, 3> kUsForm = {"Inc.", "LLC", "Corp."};
constexpr std::array<std::string_view, 3> kDeForm = {"GmbH", "AG", "KG"};
constexpr std::array<std::string_view, 3> kFrForm = {"SA", "SARL", "SAS"};

constexpr std::array<std::string_view, 10> kDepartments = {
    "Sales",     "Purchasing",      "Accounts", "IT",         "Marketing",
    "Logistics", "Human Resources", "Support",  "Management", ""};
constexpr std::array<std::string_view, 10> kTitles = {
    "Sales Manager",  "Director", "Buyer",      "Engineer",  "Consultant",
    "Office Manager", "CEO",      "Accountant", "Assistant", ""};
constexpr std::array<std::string_view, 6> kLabels = {"MAIN", "FAX", "WORK", "Mobile", "Home", ""};

constexpr std::array<std::string_view, 8> kStreets = {"High Street", "Station Road", "Main Street",
                                                      "Church Lane", "Park Avenue",  "Mill Road",
                                                      "King Street", "Market Place"};
constexpr std::array<std::string_view, 6> kUkCities = {"London",  "Manchester", "Leeds",
                                                       "Bristol", "Cardiff",    "Edinburgh"};
constexpr std::array<std::string_view, 6> kUkCounties = {
    "Greater London", "Lancashire", "West Yorkshire", "Avon", "South Glamorgan", "Midlothian"};
constexpr std::array<std::string_view, 6> kUsCities = {"New York", "Chicago", "Austin",
                                                       "Seattle",  "Boston",  "Denver"};
constexpr std::array<std::string_view, 6> kUsStates = {"NY", "IL", "TX", "WA", "MA", "CO"};
constexpr std::array<std::string_view, 6> kDeStreets = {
    "Hauptstraße", "Bahnhofstraße", "Gartenweg", "Schillerstraße", "Lindenallee", "Marktplatz"};
constexpr std::array<std::string_view, 6> kDeCities = {"Berlin", "München",   "Hamburg",
                                                       "Köln",   "Stuttgart", "Düsseldorf"};
constexpr std::array<std::string_view, 6> kDeStates = {"Berlin",
                                                       "Bayern",
                                                       "Hamburg",
                                                       "Nordrhein-Westfalen",
                                                       "Baden-Württemberg",
                                                       "Nordrhein-Westfalen"};
constexpr std::array<std::string_view, 6> kFrStreets = {"rue de la Paix",    "avenue Victor Hugo",
                                                        "rue du Moulin",     "boulevard Voltaire",
                                                        "place de l'Église", "rue Pasteur"};
constexpr std::array<std::string_view, 6> kFrCities = {"Paris", "Lyon",     "Marseille",
                                                       "Lille", "Toulouse", "Nantes"};
constexpr std::array<std::string_view, 6> kFrRegions = {
    "Île-de-France", "Auvergne-Rhône-Alpes", "Provence-Alpes-Côte d'Azur", "Hauts-de-France",
    "Occitanie",     "Pays de la Loire"};

void UkNumber(Random& rng, std::string& out) {
  switch (rng.Below(4)) {
    case 0:  // +44 (0)1234 567890
      out += "+44 (0)1";
      rng.Digits(out, 3);
      out += ' ';
      rng.Digits(out, 6);
      break;
    case 1:  // 01234 567890
      out += "01";
      rng.Digits(out, 3);
      out += ' ';
      rng.Digits(out, 6);
      break;
    case 2:  // +44 20 7946 0123
      out += "+44 20 7";
      rng.Digits(out, 3);
      out += ' ';
      rng.Digits(out, 4);
      break;
    default:  // 07700 900123
      out += "07";
      rng.Digits(out, 3);
      out += ' ';
      rng.Digits(out, 6);
      break;
  }
}

void UsNumber(Random& rng, std::string& out) {
  std::string area;
  rng.NonZeroDigit(area);
  rng.Digits(area, 2);
  std::string exchange;
  rng.NonZeroDigit(exchange);
  rng.Digits(exchange, 2);
  switch (rng.Below(4)) {
    case 0:  // (555) 123-4567
      out += '(' + area + ") " + exchange + '-';
      break;
    case 1:  // +1-555-123-4567
      out += "+1-" + area + '-' + exchange + '-';
      break;
    case 2:  // 555-123-4567
      out += area + '-' + exchange + '-';
      break;
    default:  // +1 555 123 4567
      out += "+1 " + area + ' ' + exchange + ' ';
      break;
  }
  rng.Digits(out, 4);
}

void DeNumber(Random& rng, std::string& out) {
  std::string area;
  rng.NonZeroDigit(area);
  rng.Digits(area, static_cast<int>(1 + rng.Below(3)));
  switch (rng.Below(4)) {
    case 0:  // 0049 30 1234567
      out += "0049 " + area + ' ';
      break;
    case 1:  // +49 30 12345678
      out += "+49 " + area + ' ';
      break;
    case 2:  // 030 1234567
      out += '0' + area + ' ';
      break;
    default:  // +49 (0)30 1234567
      out += "+49 (0)" + area + ' ';
      break;
  }
  rng.NonZeroDigit(out);
  rng.Digits(out, static_cast<int>(5 + rng.Below(3)));
}

void FrNumber(Random& rng, std::string& out) {
  switch (rng.Below(3)) {
    case 0:
      out += "+33 ";
      break;
    case 1:
      out += "0";
      break;
    default:
      out += "0033 ";
      break;
  }
  out.push_back(static_cast<char>('1' + rng.Below(7)));
  for (int pair = 0; pair < 4; ++pair) {
    out += ' ';
    rng.Digits(out, 2);
  }
}

void UkPostcode(Random& rng, std::string& out) {
  out.push_back(static_cast<char>('A' + rng.Below(26)));
  out.push_back(static_cast<char>('A' + rng.Below(26)));
  rng.NonZeroDigit(out);
  out += ' ';
  rng.Digits(out, 1);
  out.push_back(static_cast<char>('A' + rng.Below(26)));
  out.push_back(static_cast<char>('A' + rng.Below(26)));
}

}  // namespace

void FillSyntheticContact(ContactRow& row, std::uint64_t index, std::uint64_t seed) {
  for (auto& value : row) value.clear();
  Random rng(index, seed);

  // Unique within a book: a two-digit prefix from the seed, then the index.
  std::string& id = row[kClientId];
  id = std::to_string(10 + seed % 90);
  const std::string number = std::to_string(index);
  id.append(number.size() < 9 ? 9 - number.size() : 0, '0');
  id += number;

  const unsigned kind = rng.Below(100);
  const unsigned country_roll = rng.Below(100);
  const Country country = country_roll < 35   ? kUk
                          : country_roll < 65 ? kUs
                          : country_roll < 85 ? kDe
                                              : kFr;

  std::string firm;
  firm += rng.Pick(kFirmWord1);
  firm += ' ';
  firm += rng.Pick(kFirmWord2);
  firm += ' ';
  switch (country) {
    case kUk:
      firm += rng.Pick(kUkForm);
      break;
    case kUs:
      firm += rng.Pick(kUsForm);
      break;
    case kDe:
      firm += rng.Pick(kDeForm);
      break;
    case kFr:
      firm += rng.Pick(kFrForm);
      break;
  }

  if (kind >= 58 && kind < 88) {
    row[kNameType] = "C";
    row[kName] = firm;
    row[kFirm] = firm;
  } else {
    row[kNameType] = kind < 58 ? "I" : "";
    switch (country) {
      case kUk:
        row[kFirstName] = rng.Pick(kUkFirst);
        row[kName] = rng.Pick(kUkLast);
        break;
      case kUs:
        row[kFirstName] = rng.Pick(kUsFirst);
        row[kName] = rng.Pick(kUsLast);
        break;
      case kDe:
        row[kFirstName] = rng.Pick(kDeFirst);
        row[kName] = rng.Pick(kDeLast);
        break;
      case kFr:
        row[kFirstName] = rng.Pick(kFrFirst);
        row[kName] = rng.Pick(kFrLast);
        break;
    }
    if (rng.Below(10) < 7) {
      row[kFirm] = firm;
      row[kDepartment] = rng.Pick(kDepartments);
      row[kTitle] = rng.Pick(kTitles);
    }
  }

  const unsigned phone_roll = rng.Below(100);
  const unsigned phones = phone_roll < 10 ? 0 : 1 + phone_roll % 4;
  for (unsigned n = 0; n < phones; ++n) {
    std::string& phone = row[kPhone1 + 2 * n];
    switch (country) {
      case kUk:
        UkNumber(rng, phone);
        break;
      case kUs:
        UsNumber(rng, phone);
        break;
      case kDe:
        DeNumber(rng, phone);
        break;
      case kFr:
        FrNumber(rng, phone);
        break;
    }
    row[kPhone1 + 2 * n + 1] = rng.Pick(kLabels);
  }

  std::string& line1 = row[kAddressLine1];
  switch (country) {
    case kUk:
      line1 = std::to_string(1 + rng.Below(250)) + ' ' + std::string(rng.Pick(kStreets));
      {
        const unsigned city = rng.Below(kUkCities.size());
        row[kCity] = kUkCities[city];
        row[kStateProvince] = kUkCounties[city];
      }
      UkPostcode(rng, row[kZipCode]);
      row[kCountry] = "United Kingdom";
      break;
    case kUs:
      line1 = std::to_string(100 + rng.Below(9900)) + ' ' + std::string(rng.Pick(kStreets));
      {
        const unsigned city = rng.Below(kUsCities.size());
        row[kCity] = kUsCities[city];
        row[kStateProvince] = kUsStates[city];
      }
      rng.Digits(row[kZipCode], 5);
      row[kCountry] = "USA";
      break;
    case kDe:
      line1 = std::string(rng.Pick(kDeStreets)) + ' ' + std::to_string(1 + rng.Below(120));
      {
        const unsigned city = rng.Below(kDeCities.size());
        row[kCity] = kDeCities[city];
        row[kStateProvince] = kDeStates[city];
      }
      rng.NonZeroDigit(row[kZipCode]);
      rng.Digits(row[kZipCode], 4);
      row[kCountry] = "Germany";
      break;
    case kFr:
      line1 = std::to_string(1 + rng.Below(150)) + ' ' + std::string(rng.Pick(kFrStreets));
      {
        const unsigned city = rng.Below(kFrCities.size());
        row[kCity] = kFrCities[city];
        row[kStateProvince] = kFrRegions[city];
      }
      rng.NonZeroDigit(row[kZipCode]);
      rng.Digits(row[kZipCode], 4);
      row[kCountry] = "France";
      break;
  }
  if (rng.Below(10) == 0) {
    row[kAddressLine2] = "Unit " + std::to_string(1 + rng.Below(40));
  }
}

}  // namespace pellory::standins
