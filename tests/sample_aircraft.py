"""Realistic aircraft files of any size, for the crash test and the benchmark: entries of about
25 keys with values of realistic length, then [General] and a few other sections."""

import os
import random
import shutil

ENTRY_KEYS = ["title", "sim", "model", "panel", "sound", "texture", "kb_checklists", "kb_reference", "atc_id",
              "atc_id_color", "atc_parking_types", "atc_airline", "atc_flight_number", "atc_heavy", "ui_manufacturer",
              "ui_type", "ui_variation", "ui_typerole", "ui_createdby", "description", "visual_damage",
              "atc_id_font", "prop_anim_ratio", "smoke_system", "isUserSelectable"]
AIRLINES = ["Skyways", "Northwind", "Blue Harbour Air", "Cascade", "Transmeridian", "Polar Express Cargo"]


def aircraft_cfg(entries, variant=1, eol="\r\n"):
    rng = random.Random(variant)
    out = [f"; Boeing 737-800, {entries} liveries{eol}[version]{eol}major=1{eol}minor=0{eol}{eol}"]
    for n in range(entries):
        airline = rng.choice(AIRLINES)
        values = {
            "title": f"Boeing 737-800 {airline} {n}", "sim": "Boeing737-800", "model": "", "panel": "", "sound": "",
            "texture": f"{airline.split()[0].lower()}_{n}", "kb_checklists": "Boeing737-800_check",
            "kb_reference": "Boeing737-800_ref", "atc_id": f"N{rng.randint(100, 999)}{rng.choice('ABCDEFGH')}W",
            "atc_id_color": "0xffffffff", "atc_parking_types": "GATE,RAMP", "atc_airline": airline,
            "atc_flight_number": str(rng.randint(1, 9999)), "atc_heavy": "0", "ui_manufacturer": '"Boeing"',
            "ui_type": '"737-800"', "ui_variation": f'"{airline} {n}"', "ui_typerole": '"Commercial Airliner"',
            "ui_createdby": f'"{airline} Paint Team"',
            "description": f'"{airline} livery number {n}, painted in {rng.choice(["spring", "summer", "autumn"])}. '
                           f'Twin-engine narrow-body airliner for short and medium routes."',
            "visual_damage": "1", "atc_id_font": "-11,-1,700,0,0,0", "prop_anim_ratio": "-1.5",
            "smoke_system": "0", "isUserSelectable": "1",
        }
        out.append(f"[fltsim.{n}]{eol}" + "".join(f"{k}={values[k]}{eol}" for k in ENTRY_KEYS) + eol)
    out.append(f"[General]{eol}atc_type=BOEING{eol}atc_model=B738{eol}editable=1{eol}"
               f"performance=\"Cruise speed: 450 kts\"{eol}{eol}"
               f"[pitot_static]{eol}vertical_speed_time_constant=1{eol}pitot_heat=1{eol}{eol}"
               f"[systems]{eol}max_gyro_speed=1500.0{eol}")
    return "".join(out).encode()


def aircraft_folder(root, program, livery_ini_bytes):
    """Makes <root>/Boeing 737-800/Sunrise/ with livery.ini and a copy of `program` named
    installer; returns the paths of the aircraft folder, the livery folder, the program and
    the aircraft file (not yet written)."""
    aircraft = os.path.join(root, "Boeing 737-800")
    livery = os.path.join(aircraft, "Sunrise")
    os.makedirs(livery)
    with open(os.path.join(livery, "livery.ini"), "wb") as f:
        f.write(livery_ini_bytes)
    exe = os.path.join(livery, "installer")
    shutil.copy2(program, exe)
    return aircraft, livery, exe, os.path.join(aircraft, "aircraft.cfg")
