sleep 0
