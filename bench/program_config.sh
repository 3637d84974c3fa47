# Sourced by the bench scripts: the config.ini of a program run at full pace
# (sixteen sensors, polling and logging on at start, every log field).
# Usage: write_program_config FILE LOG_FOLDER CHART_TYPE PORT
write_program_config() {
  cat >"$1" <<EOF_CONFIG
[Options]
AutoSave=1
Update=1
AutoConnect=1
SaveDate=1
SaveTime=1
SaveRaw=1
SavePercent=1
SaveCoeff=1
SaveFile=$2/pomiar.csv
SensorCount=15
SaveFreq=0
ChartType=$3
Coeff=1,00
[Adapters]
Port1=$4
EOF_CONFIG
}
